#include "controller/camera_types.h"

#include <algorithm>
#include <string_view>

namespace vorne {

const std::array<CameraTypeEntry, kCameraTypeCount> CameraTypeTable = {{
    {0, u"EVI_D31"},
    {1, u"RC20"},
    {2, u"SU_320"},
    {3, u"TAC"},
    {4, u"VIDEOTREC_PWT"},
    {5, u"PELCO_D"},
    {6, u"VC_C50i"},
    {7, u"PELCO_P"},
}};

unsigned CameraTypeCount() noexcept { return kCameraTypeCount; }

int CameraTypeInfo(unsigned index, std::int32_t* id, char16_t* name, unsigned capacity) noexcept {
  if (index >= CameraTypeCount()) return 0;
  const CameraTypeEntry& entry = CameraTypeTable[index];
  *id = entry.id;
  if (name == nullptr) return 0;
  const std::u16string_view text(entry.name);
  if (capacity <= text.size()) return 0;
  std::copy(text.begin(), text.end(), name);
  name[text.size()] = u'\0';
  return static_cast<int>(text.size());
}

}  // namespace vorne

// Stand-in for the SU_320 camera library "CDll.dll": records every call.
#include <cstdint>

#include "standin_record.h"

namespace {

constexpr const char* kLibrary = "CDll.dll";

__attribute__((constructor)) void Loaded() { Record(kLibrary, "loaded"); }
__attribute__((destructor)) void Unloaded() { Record(kLibrary, "unloaded"); }

}  // namespace

// Direction code 0 tilt up, 1 tilt down, 2 pan left, 3 pan right.
STANDIN_EXPORT void ZX_Control(std::int32_t code, std::int32_t camera) {
  Record(kLibrary, "ZX_Control(%d,%d)", static_cast<int>(code), static_cast<int>(camera));
}

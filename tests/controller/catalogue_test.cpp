// Copies out of the camera-type catalogue and their capacity limits.
#include <gtest/gtest.h>

#include <cstring>

#include "controller/camera_types.h"

using namespace vorne;

namespace {

struct InfoCase {
  unsigned index;
  bool withBuffer;
  unsigned capacity;
  int expectedResult;
  std::int32_t expectedId;       // -7: untouched
  const char16_t* expectedName;  // null: buffer untouched
};

TEST(CameraTypeInfo, CopiesOnlyWhatFitsWithItsTerminator) {
  const InfoCase cases[] = {
      {0, true, 7, 0, 0, nullptr},
      {0, true, 8, 7, 0, u"EVI_D31"},
      {4, true, 14, 13, 4, u"VIDEOTREC_PWT"},
      {4, true, 13, 0, 4, nullptr},
      {3, false, 100, 0, 3, nullptr},
      {8, true, 32, 0, -7, nullptr},
      {0xFFFFFFFFu, true, 32, 0, -7, nullptr},
      {6, true, 32, 7, 6, u"VC_C50i"},
      {1, true, 0, 0, 1, nullptr},
  };
  for (const InfoCase& c : cases) {
    std::int32_t id = -7;
    char16_t buffer[32];
    std::memset(buffer, 0x5A, sizeof(buffer));
    char16_t untouched[32];
    std::memcpy(untouched, buffer, sizeof(buffer));
    const int result = CameraTypeInfo(c.index, &id, c.withBuffer ? buffer : nullptr, c.capacity);
    EXPECT_EQ(result, c.expectedResult) << c.index << "/" << c.capacity;
    EXPECT_EQ(id, c.expectedId) << c.index;
    if (c.expectedName != nullptr) {
      EXPECT_EQ(std::u16string_view(buffer), c.expectedName);
    } else {
      EXPECT_EQ(std::memcmp(buffer, untouched, sizeof(buffer)), 0) << c.index << "/" << c.capacity;
    }
  }
}

TEST(CameraTypeTable, RowsAreZeroPaddedAndNumberedByIndex) {
  ASSERT_EQ(CameraTypeCount(), 8u);
  static_assert(sizeof(CameraTypeEntry) == 4 + 32 * 2);
  for (unsigned i = 0; i < CameraTypeCount(); ++i) {
    const CameraTypeEntry& row = CameraTypeTable[i];
    EXPECT_EQ(row.id, static_cast<std::int32_t>(i));
    const std::size_t length = std::u16string_view(row.name).size();
    for (std::size_t k = length; k < 32; ++k) EXPECT_EQ(row.name[k], u'\0');
  }
}

}  // namespace

#include <array>
#include <cstdint>

#include "protocols/drivers.h"
#include "protocols/frame_table.h"

namespace vorne {

namespace {

using vorne::frames::Bytes;
using vorne::frames::Row;
using S = SerialPtzController;

// FA, operation code, 00 00, 60 (motion) or 00 (stop), 00, check byte. The
// check bytes are stored, not computed; the one stop frame serves both
// groups.
constexpr std::array<Row, 8> kFrames = {{
    {&S::tiltUpFrame, Bytes({0xFA, 0x01, 0x00, 0x00, 0x60, 0x00, 0x5B})},
    {&S::tiltDownFrame, Bytes({0xFA, 0x02, 0x00, 0x00, 0x60, 0x00, 0x5C})},
    {&S::panLeftFrame, Bytes({0xFA, 0x03, 0x00, 0x00, 0x60, 0x00, 0x5D})},
    {&S::panRightFrame, Bytes({0xFA, 0x04, 0x00, 0x00, 0x60, 0x00, 0x5E})},
    {&S::zoomOutFrame, Bytes({0xFA, 0x0B, 0x00, 0x00, 0x60, 0x00, 0x65})},
    {&S::zoomInFrame, Bytes({0xFA, 0x0C, 0x00, 0x00, 0x60, 0x00, 0x66})},
    {&S::panTiltStopFrame, Bytes({0xFA, 0x01, 0x00, 0x00, 0x00, 0x00, 0x7B})},
    {&S::zoomStopFrame, Bytes({0xFA, 0x01, 0x00, 0x00, 0x00, 0x00, 0x7B})},
}};
static_assert(vorne::frames::FillsEverySlotOnce(kFrames));

// The camera checks byte 7 against the 7-bit sum of bytes 1 to 6; a stored
// frame that broke the rule would be ignored in silence.
constexpr bool CheckBytesHold() {
  for (const Row& row : kFrames) {
    if (row.frame.length != 7) return false;
    unsigned sum = 0;
    for (int i = 0; i < 6; ++i) sum += row.frame.data[i];
    if ((sum & 0x7Fu) != row.frame.data[6]) return false;
  }
  return true;
}
static_assert(CheckBytesHold());

}  // namespace

VideotrecController::VideotrecController() { vorne::frames::Load(*this, kFrames); }

}  // namespace vorne

#include <array>
#include <cstdint>

#include "hostlog/host_log.h"
#include "protocols/drivers.h"
#include "protocols/frame_table.h"

namespace vorne {

namespace {

using vorne::frames::Bytes;
using vorne::frames::Row;
using S = SerialPtzController;

// Start A0, address (code - 1), data 1, data 2 (motion bits), pan speed,
// tilt speed, end AF, checksum. Built for address code 1.
//
// Zoom in carries 0x40 and zoom out 0x20, the reverse of the common Pelco-P
// documents. Hosts built against this module may already swap the commands
// to suit, so the bytes stay as they always were.
constexpr std::array<Row, 8> kFrames = {{
    {&S::tiltUpFrame, Bytes({0xA0, 0x00, 0x00, 0x08, 0x00, 0x30, 0xAF, 0x37})},
    {&S::tiltDownFrame, Bytes({0xA0, 0x00, 0x00, 0x10, 0x00, 0x30, 0xAF, 0x2F})},
    {&S::panLeftFrame, Bytes({0xA0, 0x00, 0x00, 0x04, 0x10, 0x00, 0xAF, 0x1B})},
    {&S::panRightFrame, Bytes({0xA0, 0x00, 0x00, 0x02, 0x10, 0x00, 0xAF, 0x1D})},
    {&S::zoomOutFrame, Bytes({0xA0, 0x00, 0x00, 0x20, 0x00, 0x00, 0xAF, 0x2F})},
    {&S::zoomInFrame, Bytes({0xA0, 0x00, 0x00, 0x40, 0x00, 0x00, 0xAF, 0x4F})},
    {&S::panTiltStopFrame, Bytes({0xA0, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAF, 0x0F})},
    {&S::zoomStopFrame, Bytes({0xA0, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAF, 0x0F})},
}};
static_assert(vorne::frames::FillsEverySlotOnce(kFrames));

constexpr int kAddress = 1;
constexpr int kChecksum = 7;

// XOR of bytes 1 to 7, start and end bytes included.
constexpr std::uint8_t Checksum(const CommandFrame& frame) {
  std::uint8_t x = 0;
  for (int i = 0; i < kChecksum; ++i) x ^= frame.data[i];
  return x;
}

constexpr bool ChecksumsHold() {
  for (const Row& row : kFrames) {
    if (row.frame.length != 8 || Checksum(row.frame) != row.frame.data[kChecksum]) return false;
  }
  return true;
}
static_assert(ChecksumsHold());

}  // namespace

PelcoPController::PelcoPController() { vorne::frames::Load(*this, kFrames); }

int PelcoPController::SetAddressCode(int code) {
  if (code == tiltUpFrame.data[kAddress] + 1) return 1;
  HostLogLine(u"Set AddrCode %d.\n", code);
  // Unsigned, so that the lowest code wraps instead of overflowing.
  const auto address = static_cast<std::uint8_t>(static_cast<std::uint32_t>(code) - 1u);
  for (auto slot : vorne::frames::kAllSlots) {
    CommandFrame& frame = this->*slot;
    frame.data[kAddress] = address;
    frame.data[kChecksum] = Checksum(frame);
  }
  return 1;
}

}  // namespace vorne

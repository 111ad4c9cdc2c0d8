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

// Sync FF, address, command 1, command 2 (motion bits), pan speed, tilt
// speed, checksum. Built for address 1.
constexpr std::array<Row, 8> kFrames = {{
    {&S::tiltUpFrame, Bytes({0xFF, 0x01, 0x00, 0x08, 0x00, 0x20, 0x29})},
    {&S::tiltDownFrame, Bytes({0xFF, 0x01, 0x00, 0x10, 0x00, 0x20, 0x31})},
    {&S::panLeftFrame, Bytes({0xFF, 0x01, 0x00, 0x04, 0x20, 0x00, 0x25})},
    {&S::panRightFrame, Bytes({0xFF, 0x01, 0x00, 0x02, 0x20, 0x00, 0x23})},
    {&S::zoomOutFrame, Bytes({0xFF, 0x01, 0x00, 0x40, 0x0A, 0x0A, 0x55})},
    {&S::zoomInFrame, Bytes({0xFF, 0x01, 0x00, 0x20, 0x0A, 0x0A, 0x35})},
    {&S::panTiltStopFrame, Bytes({0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01})},
    {&S::zoomStopFrame, Bytes({0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01})},
}};
static_assert(vorne::frames::FillsEverySlotOnce(kFrames));

constexpr int kAddress = 1;
constexpr int kChecksum = 6;

// Bytes 2 to 6 modulo 256; the sync byte is left out.
constexpr std::uint8_t Checksum(const CommandFrame& frame) {
  unsigned sum = 0;
  for (int i = 1; i < kChecksum; ++i) sum += frame.data[i];
  return static_cast<std::uint8_t>(sum);
}

constexpr bool ChecksumsHold() {
  for (const Row& row : kFrames) {
    if (row.frame.length != 7 || Checksum(row.frame) != row.frame.data[kChecksum]) return false;
  }
  return true;
}
static_assert(ChecksumsHold());

}  // namespace

PelcoDController::PelcoDController() { vorne::frames::Load(*this, kFrames); }

int PelcoDController::SetAddressCode(int code) {
  if (code == tiltUpFrame.data[kAddress]) return 1;
  HostLogLine(u"Set AddrCode %d.\n", code);
  const auto address = static_cast<std::uint8_t>(static_cast<std::uint32_t>(code));
  for (auto slot : vorne::frames::kAllSlots) {
    CommandFrame& frame = this->*slot;
    frame.data[kAddress] = address;
    frame.data[kChecksum] = Checksum(frame);
  }
  return 1;
}

}  // namespace vorne

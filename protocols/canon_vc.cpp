#include "protocols/canon_vc.h"

#include <cstring>

namespace vorne {

namespace {

constexpr unsigned kFrameLength = 7;
using Frame = std::uint8_t[kFrameLength];

// FF 30 30 00, command, parameter, EF: no address, no checksum.
constexpr Frame kPrepareFirst = {0xFF, 0x30, 0x30, 0x00, 0x90, 0x30, 0xEF};
constexpr Frame kPrepareSecond = {0xFF, 0x30, 0x30, 0x00, 0xA0, 0x31, 0xEF};
constexpr Frame kFinish = {0xFF, 0x30, 0x30, 0x00, 0x90, 0x31, 0xEF};
constexpr Frame kPanRight = {0xFF, 0x30, 0x30, 0x00, 0x53, 0x31, 0xEF};
constexpr Frame kPanLeft = {0xFF, 0x30, 0x30, 0x00, 0x53, 0x32, 0xEF};
constexpr Frame kTiltUp = {0xFF, 0x30, 0x30, 0x00, 0x53, 0x33, 0xEF};
constexpr Frame kTiltDown = {0xFF, 0x30, 0x30, 0x00, 0x53, 0x34, 0xEF};
constexpr Frame kPanTiltStop = {0xFF, 0x30, 0x30, 0x00, 0x53, 0x30, 0xEF};
constexpr Frame kZoomOut = {0xFF, 0x30, 0x30, 0x00, 0xA2, 0x31, 0xEF};
constexpr Frame kZoomIn = {0xFF, 0x30, 0x30, 0x00, 0xA2, 0x32, 0xEF};
constexpr Frame kZoomStop = {0xFF, 0x30, 0x30, 0x00, 0xA2, 0x30, 0xEF};

}  // namespace

CanonVcController::CanonVcController() {
  panTiltMoving = 0;
  zoomMoving = 0;
}

int CanonVcController::PanLeft() { return Move(panTiltMoving, kPanLeft); }
int CanonVcController::PanRight() { return Move(panTiltMoving, kPanRight); }
int CanonVcController::TiltUp() { return Move(panTiltMoving, kTiltUp); }
int CanonVcController::TiltDown() { return Move(panTiltMoving, kTiltDown); }
int CanonVcController::ZoomIn() { return Move(zoomMoving, kZoomIn); }
int CanonVcController::ZoomOut() { return Move(zoomMoving, kZoomOut); }

void CanonVcController::Stop() {
  // A group stays moving until its stop frame went out, so the next Stop
  // sends a refused one again.
  if (panTiltMoving != 0 && Write(kPanTiltStop, kFrameLength) != 0) panTiltMoving = 0;
  if (zoomMoving != 0 && Write(kZoomStop, kFrameLength) != 0) zoomMoving = 0;
  // The camera expects the finishing frame after every stop, also when
  // nothing was moving.
  FinishStop();
}

int CanonVcController::PrepareMotion() {
  Write(kPrepareFirst, kFrameLength);
  Write(kPrepareSecond, kFrameLength);
  return 1;
}

int CanonVcController::FinishStop() {
  Write(kFinish, kFrameLength);
  return 1;
}

int CanonVcController::Write(const std::uint8_t* bytes, unsigned length) {
  // OpenPort has logged its own line; this driver adds none.
  if (OpenPort() == 0) return 0;
  try {
    PutBytes(bytes, bytes != nullptr ? length : 0);
    // The camera's answers are not used; reading them keeps the input
    // buffer from filling up over many commands.
    VARIANT received = comm.GetReceivedData();
    VariantClear(&received);
  } catch (...) {
    // The frame counts as handed to the port; the next frame opens afresh.
  }
  ClosePort();
  return 1;
}

int CanonVcController::Move(std::int32_t& groupMoving, const std::uint8_t* frame) {
  // One motion per group until Stop; the group counts as moving even when a
  // frame could not be sent, so Stop still sends its stop frame.
  if (groupMoving != 0) return 0;
  groupMoving = 1;
  PrepareMotion();
  return Write(frame, kFrameLength);
}

}  // namespace vorne

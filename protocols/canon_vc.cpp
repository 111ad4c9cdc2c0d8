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

int CanonVcController::PanLeft() { return Move(panTiltMoving, panTiltMayRun_, kPanLeft); }
int CanonVcController::PanRight() { return Move(panTiltMoving, panTiltMayRun_, kPanRight); }
int CanonVcController::TiltUp() { return Move(panTiltMoving, panTiltMayRun_, kTiltUp); }
int CanonVcController::TiltDown() { return Move(panTiltMoving, panTiltMayRun_, kTiltDown); }
int CanonVcController::ZoomIn() { return Move(zoomMoving, zoomMayRun_, kZoomIn); }
int CanonVcController::ZoomOut() { return Move(zoomMoving, zoomMayRun_, kZoomOut); }

void CanonVcController::Stop() {
  // The engine's stop rule: a group whose motion frame may have reached the
  // camera stays moving until its stop frame was sent, so the next Stop
  // sends it again; a group whose motion never left is idle after any Stop.
  if (panTiltMoving != 0) {
    AfterStop(panTiltMoving, panTiltMayRun_, WriteSent(kPanTiltStop, kFrameLength));
  }
  if (zoomMoving != 0) AfterStop(zoomMoving, zoomMayRun_, WriteSent(kZoomStop, kFrameLength));
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
  writeUndelivered_ = false;
  // OpenPort has logged its own line; this driver adds none.
  if (OpenPort() == 0) return 0;
  bool put = false;
  try {
    PutBytes(bytes, bytes != nullptr ? length : 0);
    put = true;
    // The camera's answers are not used; reading them keeps the input
    // buffer from filling up over many commands.
    VARIANT received = comm.GetReceivedData();
    VariantClear(&received);
  } catch (...) {
    // No log line in this driver; the next frame opens afresh.
  }
  ClosePort();
  // A put or a close that raised leaves the frame undelivered (a failed
  // read of the camera's answer does not), without a log line either.
  writeUndelivered_ = !put || closeFailed_;
  return 1;
}

int CanonVcController::Move(std::int32_t& groupMoving, bool& motionMayRun,
                            const std::uint8_t* frame) {
  // One motion per group until Stop; the group counts as moving even when a
  // frame could not be sent, so Stop still sends its stop frame. Whether the
  // motion frame (not the preparation) may have reached the camera decides
  // what a failed stop does.
  if (groupMoving != 0) return 0;
  groupMoving = 1;
  PrepareMotion();
  const int result = Write(frame, kFrameLength);
  motionMayRun = result != 0;
  return result;
}

}  // namespace vorne

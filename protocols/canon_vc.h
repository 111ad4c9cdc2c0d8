// Type 6, "VC_C50i": the Canon VC-C50i protocol. Every accepted motion is
// preceded by two preparation frames and every stop ends with a finishing
// frame; each frame goes out in its own open-write-read-close cycle.
#ifndef VORNE_PROTOCOLS_CANON_VC_H
#define VORNE_PROTOCOLS_CANON_VC_H

#include <cstdint>

#include "serial/serial_ptz_controller.h"

namespace vorne {

// Sends fixed 7-byte frames of its own; the stored frame slots stay empty.
// Uses the base's two moving flags: one motion per group until Stop.
class CanonVcController : public SerialPtzController {
 public:
  CanonVcController();

  int PanLeft() override;
  int PanRight() override;
  int TiltUp() override;
  int TiltDown() override;
  int ZoomIn() override;
  int ZoomOut() override;
  // Stops each moving group, then always sends the finishing frame. A group
  // whose motion frame may have reached the camera stays moving while its
  // stop could not be sent (the engine's stop rule, AfterStop).
  void Stop() override;

  // Opens the port, puts the bytes, reads whatever the camera has sent and
  // drops it, closes the port. 0 when the port cannot be opened, else 1;
  // control errors after the open are absorbed without a log line (a put or
  // close that raised marks the frame as not delivered).
  int Write(const std::uint8_t* bytes, unsigned length) override;

  // The two frames that go before every accepted motion. Always 1.
  virtual int PrepareMotion();
  // The frame that ends every Stop. Always 1.
  virtual int FinishStop();

 private:
  int Move(std::int32_t& groupMoving, bool& motionMayRun, const std::uint8_t* frame);
};

}  // namespace vorne

#endif

// The golden frames and what the driver tests need around them: a
// controller's stored frames as bytes, and a frame driver whose port is a
// list.
#ifndef VORNE_TESTS_PROTOCOLS_FRAME_TABLES_H
#define VORNE_TESTS_PROTOCOLS_FRAME_TABLES_H

#include <cstdint>
#include <vector>

#include "serial/serial_ptz_controller.h"
#include "support/golden_frames.h"

namespace vorne_test {

using namespace vorne;

// The bytes of a frame that go on the wire.
inline ByteVector Sent(const CommandFrame& frame) {
  if (frame.length <= 0) return {};
  return ByteVector(frame.data, frame.data + frame.length);
}

// All eight slots in declaration order.
inline FrameSet AllFrames(const SerialPtzController& c) {
  return {Sent(c.tiltUpFrame),      Sent(c.tiltDownFrame), Sent(c.panLeftFrame),
          Sent(c.panRightFrame),    Sent(c.zoomOutFrame),  Sent(c.zoomInFrame),
          Sent(c.panTiltStopFrame), Sent(c.zoomStopFrame)};
}

template <typename Driver>
class FrameRecorder : public Driver {
 public:
  // Stops here, so that the base's teardown finds nothing moving and never
  // reaches for a port.
  ~FrameRecorder() override { this->Stop(); }

  int Write(const std::uint8_t* bytes, unsigned length) override {
    writes.emplace_back(bytes, bytes + length);
    return 1;
  }

  FrameSet writes;
};

}  // namespace vorne_test

#endif

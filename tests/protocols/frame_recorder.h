// A frame driver whose port is a list: every Write is kept instead of sent.
#ifndef VORNE_TESTS_PROTOCOLS_FRAME_RECORDER_H
#define VORNE_TESTS_PROTOCOLS_FRAME_RECORDER_H

#include <cstdint>
#include <vector>

#include "serial/serial_ptz_controller.h"

namespace vorne_test {

using ByteVector = std::vector<std::uint8_t>;

// The bytes of a frame that go on the wire.
inline ByteVector Sent(const CommandFrame& frame) {
  if (frame.length <= 0) return {};
  return ByteVector(frame.data, frame.data + frame.length);
}

// All eight slots in declaration order.
inline std::vector<ByteVector> AllFrames(const SerialPtzController& c) {
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

  std::vector<ByteVector> writes;
};

}  // namespace vorne_test

#endif

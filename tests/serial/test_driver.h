// A serial driver made only for tests: every frame slot holds a short,
// distinct frame, so a test can tell from the bytes which slot was sent.
#ifndef VORNE_TESTS_SERIAL_TEST_DRIVER_H
#define VORNE_TESTS_SERIAL_TEST_DRIVER_H

#include <cstdint>
#include <vector>

#include "serial/serial_ptz_controller.h"

namespace vorne_test {

using namespace vorne;

class TestDriver : public SerialPtzController {
 public:
  // Slot i (declaration order) holds A0+i, 01, 02, ... of length 3 + i.
  TestDriver() {
    CommandFrame* slots[] = {&tiltUpFrame,  &tiltDownFrame, &panLeftFrame,     &panRightFrame,
                             &zoomOutFrame, &zoomInFrame,   &panTiltStopFrame, &zoomStopFrame};
    for (int i = 0; i < 8; ++i) {
      slots[i]->data[0] = static_cast<std::uint8_t>(0xA0 + i);
      for (int b = 1; b < 3 + i; ++b) slots[i]->data[b] = static_cast<std::uint8_t>(b);
      slots[i]->length = 3 + i;
    }
  }

  static std::vector<std::uint8_t> FrameBytes(const CommandFrame& frame) {
    return {frame.data, frame.data + frame.length};
  }
};

}  // namespace vorne_test

#endif

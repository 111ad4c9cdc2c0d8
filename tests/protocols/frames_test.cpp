// The stored frames of the four frame drivers, byte for byte, and the frame
// each motion and stop puts on the port.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controller/factory.h"
#include "frame_recorder.h"
#include "platform/window.h"
#include "protocols/drivers.h"
#include "support/module_fixture.h"

namespace {

using vorne_test::AllFrames;
using vorne_test::ByteVector;
using vorne_test::FrameRecorder;

struct Recorded {
  std::unique_ptr<SerialPtzController> controller;
  std::vector<ByteVector>* writes;
};

template <typename Driver>
Recorded Record() {
  auto recorder = std::make_unique<FrameRecorder<Driver>>();
  std::vector<ByteVector>* writes = &recorder->writes;
  return {std::move(recorder), writes};
}

// Slot order: tilt up, tilt down, pan left, pan right, zoom out, zoom in,
// pan/tilt stop, zoom stop.
enum Slot { kTiltUp, kTiltDown, kPanLeft, kPanRight, kZoomOut, kZoomIn, kPanTiltStop, kZoomStop };

struct DriverCase {
  std::string name;
  std::function<Recorded()> make;
  std::vector<ByteVector> frames;  // by Slot
  std::vector<int> inertCodes;     // address codes that must change nothing
};

void PrintTo(const DriverCase& c, std::ostream* os) { *os << c.name; }

const DriverCase kCases[] = {
    {"Visca",
     Record<ViscaController>,
     {
         {0x81, 0x01, 0x06, 0x01, 0x03, 0x07, 0x03, 0x01, 0xFF, 0x00},
         {0x81, 0x01, 0x06, 0x01, 0x03, 0x07, 0x03, 0x02, 0xFF, 0x00},
         {0x81, 0x01, 0x06, 0x01, 0x09, 0x10, 0x01, 0x03, 0xFF, 0x00},
         {0x81, 0x01, 0x06, 0x01, 0x09, 0x10, 0x02, 0x03, 0xFF, 0x00},
         {0x81, 0x01, 0x04, 0x07, 0x34, 0xFF, 0x00},
         {0x81, 0x01, 0x04, 0x07, 0x24, 0xFF, 0x00},
         {0x81, 0x01, 0x06, 0x01, 0x10, 0x10, 0x03, 0x03, 0xFF, 0x00},
         {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF, 0x00},
     },
     {0, 1, 2, 255, 256, -1}},
    {"Videotrec",
     Record<VideotrecController>,
     {
         {0xFA, 0x01, 0x00, 0x00, 0x60, 0x00, 0x5B},
         {0xFA, 0x02, 0x00, 0x00, 0x60, 0x00, 0x5C},
         {0xFA, 0x03, 0x00, 0x00, 0x60, 0x00, 0x5D},
         {0xFA, 0x04, 0x00, 0x00, 0x60, 0x00, 0x5E},
         {0xFA, 0x0B, 0x00, 0x00, 0x60, 0x00, 0x65},
         {0xFA, 0x0C, 0x00, 0x00, 0x60, 0x00, 0x66},
         {0xFA, 0x01, 0x00, 0x00, 0x00, 0x00, 0x7B},  // 0xFB masked to 7 bits
         {0xFA, 0x01, 0x00, 0x00, 0x00, 0x00, 0x7B},
     },
     {0, 1, 2, 255, 256, -1}},
    {"PelcoD",
     Record<PelcoDController>,
     {
         {0xFF, 0x01, 0x00, 0x08, 0x00, 0x20, 0x29},
         {0xFF, 0x01, 0x00, 0x10, 0x00, 0x20, 0x31},
         {0xFF, 0x01, 0x00, 0x04, 0x20, 0x00, 0x25},
         {0xFF, 0x01, 0x00, 0x02, 0x20, 0x00, 0x23},
         {0xFF, 0x01, 0x00, 0x40, 0x0A, 0x0A, 0x55},
         {0xFF, 0x01, 0x00, 0x20, 0x0A, 0x0A, 0x35},
         {0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01},
         {0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01},
     },
     {1}},
    {"PelcoP",
     Record<PelcoPController>,
     {
         {0xA0, 0x00, 0x00, 0x08, 0x00, 0x30, 0xAF, 0x37},
         {0xA0, 0x00, 0x00, 0x10, 0x00, 0x30, 0xAF, 0x2F},
         {0xA0, 0x00, 0x00, 0x04, 0x10, 0x00, 0xAF, 0x1B},
         {0xA0, 0x00, 0x00, 0x02, 0x10, 0x00, 0xAF, 0x1D},
         {0xA0, 0x00, 0x00, 0x20, 0x00, 0x00, 0xAF, 0x2F},  // zoom out: 0x20
         {0xA0, 0x00, 0x00, 0x40, 0x00, 0x00, 0xAF, 0x4F},  // zoom in: 0x40
         {0xA0, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAF, 0x0F},
         {0xA0, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAF, 0x0F},
     },
     {1}},
};

struct Motion {
  const char* name;
  int (SerialPtzController::*call)();
  Slot frame;
  Slot stop;
};

const Motion kMotions[] = {
    {"PanLeft", &SerialPtzController::PanLeft, kPanLeft, kPanTiltStop},
    {"PanRight", &SerialPtzController::PanRight, kPanRight, kPanTiltStop},
    {"TiltUp", &SerialPtzController::TiltUp, kTiltUp, kPanTiltStop},
    {"TiltDown", &SerialPtzController::TiltDown, kTiltDown, kPanTiltStop},
    {"ZoomIn", &SerialPtzController::ZoomIn, kZoomIn, kZoomStop},
    {"ZoomOut", &SerialPtzController::ZoomOut, kZoomOut, kZoomStop},
};

class FrameDriverTest : public vorne_test::InProcessTest,
                        public ::testing::WithParamInterface<DriverCase> {};

TEST_P(FrameDriverTest, StoredFramesAreTheTable) {
  Recorded r = GetParam().make();
  EXPECT_EQ(AllFrames(*r.controller), GetParam().frames);
  EXPECT_EQ(r.controller->port, -1);
  EXPECT_EQ(r.controller->baudRate, 9600);
  EXPECT_TRUE(r.writes->empty());
}

TEST_P(FrameDriverTest, EachMotionSendsItsFrameAndStopSendsItsGroupsStop) {
  const std::vector<ByteVector>& frames = GetParam().frames;
  for (const Motion& motion : kMotions) {
    SCOPED_TRACE(motion.name);
    Recorded r = GetParam().make();
    EXPECT_EQ(((*r.controller).*motion.call)(), 1);
    r.controller->Stop();
    EXPECT_EQ(*r.writes, (std::vector<ByteVector>{frames[motion.frame], frames[motion.stop]}));
  }
}

TEST_P(FrameDriverTest, StopOfBothGroupsSendsPanTiltStopThenZoomStop) {
  const std::vector<ByteVector>& frames = GetParam().frames;
  Recorded r = GetParam().make();
  r.controller->PanLeft();
  r.controller->ZoomOut();
  r.controller->Stop();
  EXPECT_EQ(*r.writes, (std::vector<ByteVector>{frames[kPanLeft], frames[kZoomOut],
                                                frames[kPanTiltStop], frames[kZoomStop]}));
}

TEST_P(FrameDriverTest, InertAddressCodesChangeNothingAndLogNothing) {
  AttachLog();
  Recorded r = GetParam().make();
  for (int code : GetParam().inertCodes) {
    EXPECT_EQ(r.controller->SetAddressCode(code), 1) << code;
    EXPECT_EQ(AllFrames(*r.controller), GetParam().frames) << code;
  }
  EXPECT_TRUE(LogLines().empty());
  EXPECT_TRUE(r.writes->empty());
}

INSTANTIATE_TEST_SUITE_P(Drivers, FrameDriverTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

template <typename Driver>
bool Is(PtzController* controller) {
  return dynamic_cast<Driver*>(controller) != nullptr;
}

TEST(FrameDriverFactory, BuildsEachDriverByItsTypeNumber) {
  CWnd* parent = CWnd::FromHandle(reinterpret_cast<HWND>(0x1));
  struct Case {
    std::uint32_t type;
    bool (*is)(PtzController*);
  };
  const Case cases[] = {{0, Is<ViscaController>},
                        {4, Is<VideotrecController>},
                        {5, Is<PelcoDController>},
                        {7, Is<PelcoPController>}};
  for (const Case& c : cases) {
    PtzController* controller = CreatePtzController(c.type, parent, 0);
    EXPECT_TRUE(c.is(controller)) << "type " << c.type;
    DestroyPtzController(controller);
  }
}

}  // namespace

// The stored frames of the four frame drivers, byte for byte, and the frame
// each motion and stop puts on the port.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controller/factory.h"
#include "frame_tables.h"
#include "platform/window.h"
#include "protocols/drivers.h"
#include "support/module_fixture.h"

using namespace vorne;

namespace {

using namespace vorne_test;

struct Recorded {
  std::unique_ptr<SerialPtzController> controller;
  FrameSet* writes;
};

template <typename Driver>
Recorded Record() {
  auto recorder = std::make_unique<FrameRecorder<Driver>>();
  FrameSet* writes = &recorder->writes;
  return {std::move(recorder), writes};
}

struct DriverCase {
  std::string name;
  std::function<Recorded()> make;
  const FrameSet* frames;
  std::vector<int> inertCodes;  // address codes that must change nothing
};

void PrintTo(const DriverCase& c, std::ostream* os) { *os << c.name; }

const DriverCase kCases[] = {
    {"Visca", Record<ViscaController>, &kViscaFrames, {0, 1, 2, 255, 256, -1}},
    {"Videotrec", Record<VideotrecController>, &kVideotrecFrames, {0, 1, 2, 255, 256, -1}},
    {"PelcoD", Record<PelcoDController>, &kPelcoDAddress1, {1}},
    {"PelcoP", Record<PelcoPController>, &kPelcoPAddress0, {1}},
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

TEST_P(FrameDriverTest, StoredFramesAreTheTableWhateverInertAddressCodes) {
  AttachLog();
  Recorded r = GetParam().make();
  EXPECT_EQ(AllFrames(*r.controller), *GetParam().frames);
  EXPECT_EQ(r.controller->port, -1);
  EXPECT_EQ(r.controller->baudRate, 9600);
  for (int code : GetParam().inertCodes) {
    EXPECT_EQ(r.controller->SetAddressCode(code), 1) << code;
    EXPECT_EQ(AllFrames(*r.controller), *GetParam().frames) << code;
  }
  EXPECT_TRUE(LogLines().empty());
  EXPECT_TRUE(r.writes->empty());
}

TEST_P(FrameDriverTest, EachMotionSendsItsFrameAndStopSendsEachMovingGroupsStop) {
  const FrameSet& frames = *GetParam().frames;
  for (const Motion& motion : kMotions) {
    SCOPED_TRACE(motion.name);
    Recorded r = GetParam().make();
    EXPECT_EQ(((*r.controller).*motion.call)(), 1);
    r.controller->Stop();
    EXPECT_EQ(*r.writes, (FrameSet{frames[motion.frame], frames[motion.stop]}));
  }
  // Both groups moving: pan/tilt stop first.
  Recorded r = GetParam().make();
  r.controller->PanLeft();
  r.controller->ZoomOut();
  r.controller->Stop();
  EXPECT_EQ(*r.writes, (FrameSet{frames[kPanLeft], frames[kZoomOut], frames[kPanTiltStop],
                                 frames[kZoomStop]}));
}

INSTANTIATE_TEST_SUITE_P(Drivers, FrameDriverTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

template <typename Driver>
bool Is(PtzController* controller) {
  return dynamic_cast<Driver*>(controller) != nullptr;
}

TEST(FrameDriverFactory, BuildsEachDriverByItsTypeNumber) {
  struct Case {
    std::uint32_t type;
    bool (*is)(PtzController*);
  };
  const Case cases[] = {{0, Is<ViscaController>},
                        {4, Is<VideotrecController>},
                        {5, Is<PelcoDController>},
                        {7, Is<PelcoPController>}};
  for (const Case& c : cases) {
    // The parent's object goes with the last control made under it.
    CWnd* parent = CWnd::FromHandle(reinterpret_cast<HWND>(0x1));
    PtzController* controller = CreatePtzController(c.type, parent, 0);
    EXPECT_TRUE(c.is(controller)) << "type " << c.type;
    DestroyPtzController(controller);
  }
}

}  // namespace

// The frame drivers as a host drives them: the module loaded through
// LumoDll, the camera on a pseudo-terminal standing in for COM2. Each
// command must put its exact frame on the line, in one open-write-close
// cycle of the port.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "frame_tables.h"
#include "support/module_on_pty.h"

namespace {

using namespace vorne_test;

const HWND kParent = reinterpret_cast<HWND>(0x1);
constexpr PortCycles kOneCycle = {1, 1};

struct TypeCase {
  std::string name;
  std::int32_t type;
  std::int32_t addressCode;
  std::vector<std::string> addressLog;  // what SetAddressCode logs
  const FrameSet* frames;
  const Bytes& Frame(std::int32_t command) const { return (*frames)[SlotOf(command)]; }
  const Bytes& Stop(std::int32_t command) const {
    return (*frames)[command >= PTZ_ZOOM_IN ? kZoomStop : kPanTiltStop];
  }
};

void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.name; }

// The VISCA frames keep camera 1 whatever the code. Pelco frames carry 0x0A:
// a line left in text mode would turn it into 0D 0A on the way out.
const TypeCase kTypes[] = {
    {"EVI_D31", PTZ_TYPE_EVI_D31, 7, {}, &kViscaFrames},
    {"VIDEOTREC_PWT", PTZ_TYPE_VIDEOTREC_PWT, 7, {}, &kVideotrecFrames},
    {"PELCO_D", PTZ_TYPE_PELCO_D, 2, {"Set AddrCode 2.\n"}, &kPelcoDAddress2},
    {"PELCO_P", PTZ_TYPE_PELCO_P, 2, {"Set AddrCode 2.\n"}, &kPelcoPAddress1},
};

class FramesEndToEndTest : public ModuleOnPtyTest, public ::testing::WithParamInterface<TypeCase> {
 protected:
  FramesEndToEndTest() : ModuleOnPtyTest(2) {}

  // A camera of the case's type on COM2 at the case's address, with the
  // log and the port events of the set-up taken away.
  IPtzControl* Ready() {
    IPtzControl* camera = NewCamera();
    if (camera == nullptr) return nullptr;
    EXPECT_EQ(camera->CreateController(GetParam().type, kParent, 0), S_OK);
    EXPECT_EQ(camera->SetComPort(HostPort()), S_OK);
    EXPECT_EQ(camera->SetAddressCode(GetParam().addressCode), S_OK);
    std::vector<std::string> expected = {"Set Control COM Port 2.\n"};
    expected.insert(expected.end(), GetParam().addressLog.begin(), GetParam().addressLog.end());
    EXPECT_EQ(host_.Lines(), expected);
    host_.ClearLines();
    TakeCycles();
    return camera;
  }

  // The bytes that came on the line, as many as expected, in hex.
  std::string Line(std::size_t count) { return Hex(OnTheLine(count)); }
};

TEST_P(FramesEndToEndTest, EveryCommandPutsItsFrameOnTheLineInItsOwnCycle) {
  const TypeCase& c = GetParam();
  IPtzControl* camera = Ready();
  ASSERT_NE(camera, nullptr);

  for (std::int32_t command = PTZ_PAN_LEFT; command <= PTZ_ZOOM_OUT; ++command) {
    SCOPED_TRACE(command);
    const Bytes& stop = c.Stop(command);
    EXPECT_EQ(camera->Command(command), S_OK);
    EXPECT_EQ(Line(c.Frame(command).size()), Hex(c.Frame(command)));
    EXPECT_EQ(TakeCycles(), kOneCycle);

    EXPECT_EQ(camera->Command(PTZ_STOP), S_OK);
    EXPECT_EQ(Line(stop.size()), Hex(stop));
    EXPECT_EQ(TakeCycles(), kOneCycle);
  }

  // Nothing is running now: a stop sends nothing and leaves the port alone.
  EXPECT_EQ(camera->Command(PTZ_STOP), S_OK);
  EXPECT_EQ(TakeCycles(), PortCycles{});
  EXPECT_EQ(Hex(RestOfTheLine()), "");
  EXPECT_EQ(host_.Lines(), std::vector<std::string>{});
}

// A camera left moving must not keep moving once the host lets go of it:
// each group's stop frame goes out, each in its own cycle.
TEST_P(FramesEndToEndTest, DestroyingAMovingCameraSendsBothStops) {
  const TypeCase& c = GetParam();
  IPtzControl* camera = Ready();
  ASSERT_NE(camera, nullptr);

  EXPECT_EQ(camera->Command(PTZ_PAN_LEFT), S_OK);
  EXPECT_EQ(camera->Command(PTZ_ZOOM_IN), S_OK);
  EXPECT_EQ(Line(c.Frame(PTZ_PAN_LEFT).size() + c.Frame(PTZ_ZOOM_IN).size()),
            Hex(c.Frame(PTZ_PAN_LEFT)) + " " + Hex(c.Frame(PTZ_ZOOM_IN)));
  EXPECT_EQ(TakeCycles(), (PortCycles{2, 2}));

  EXPECT_EQ(camera->DestroyController(), S_OK);
  const Bytes& panTiltStop = (*c.frames)[kPanTiltStop];
  const Bytes& zoomStop = (*c.frames)[kZoomStop];
  EXPECT_EQ(Line(panTiltStop.size() + zoomStop.size()), Hex(panTiltStop) + " " + Hex(zoomStop));
  EXPECT_EQ(TakeCycles(), (PortCycles{2, 2}));

  // Gone: no controller, nothing more on the line.
  EXPECT_EQ(camera->Command(PTZ_STOP), E_UNEXPECTED);
  EXPECT_EQ(Hex(RestOfTheLine()), "");
  EXPECT_EQ(host_.Lines(), std::vector<std::string>{});
}

TEST_P(FramesEndToEndTest, ReleasingTheComponentStopsTheCamera) {
  const TypeCase& c = GetParam();
  IPtzControl* camera = Ready();
  ASSERT_NE(camera, nullptr);

  EXPECT_EQ(camera->Command(PTZ_ZOOM_OUT), S_OK);
  EXPECT_EQ(Line(c.Frame(PTZ_ZOOM_OUT).size()), Hex(c.Frame(PTZ_ZOOM_OUT)));
  TakeCycles();

  camera->Release();
  cameras_.clear();
  EXPECT_EQ(Line(c.Stop(PTZ_ZOOM_OUT).size()), Hex(c.Stop(PTZ_ZOOM_OUT)));
  EXPECT_EQ(TakeCycles(), kOneCycle);
  EXPECT_EQ(Hex(RestOfTheLine()), "");
}

// No port selected: Command(1) fails to open, and so does the Command(0)
// after it; the motion never left, so the stop ends the group, and once the
// host selects the port the next Command(1) goes out.
TEST_P(FramesEndToEndTest, AMotionThatNeverLeftIsForgottenByStop) {
  const TypeCase& c = GetParam();
  IPtzControl* camera = NewCamera();
  ASSERT_NE(camera, nullptr);
  ASSERT_EQ(camera->CreateController(c.type, kParent, 0), S_OK);
  ASSERT_EQ(camera->SetAddressCode(c.addressCode), S_OK);
  host_.ClearLines();

  EXPECT_EQ(camera->Command(PTZ_PAN_LEFT), S_OK);
  EXPECT_EQ(camera->Command(PTZ_STOP), S_OK);
  const std::vector<std::string> failed = {"Open port exception,port = -1,BaudRate = 9600.\n",
                                           "Open com port -1 failed,baudrate = 9600.\n"};
  std::vector<std::string> twice = failed;
  twice.insert(twice.end(), failed.begin(), failed.end());
  EXPECT_EQ(host_.Lines(), twice);
  EXPECT_EQ(TakeCycles(), PortCycles{});

  host_.ClearLines();
  ASSERT_EQ(camera->SetComPort(HostPort()), S_OK);
  EXPECT_EQ(camera->Command(PTZ_PAN_LEFT), S_OK);
  EXPECT_EQ(Line(c.Frame(PTZ_PAN_LEFT).size()), Hex(c.Frame(PTZ_PAN_LEFT)));
  EXPECT_EQ(TakeCycles(), kOneCycle);
  EXPECT_EQ(camera->Command(PTZ_STOP), S_OK);
  EXPECT_EQ(Line(c.Stop(PTZ_PAN_LEFT).size()), Hex(c.Stop(PTZ_PAN_LEFT)));
  EXPECT_EQ(host_.Lines(), std::vector<std::string>{"Set Control COM Port 2.\n"});
}

// The motion went out on COM2; its stop could not (the host moved to COM3,
// whose device is missing): the group stays moving, a new motion is still
// refused, and the next Command(0) on COM2 sends the stop.
TEST_P(FramesEndToEndTest, AStopThatCouldNotBeSentIsSentByTheNextStop) {
  const TypeCase& c = GetParam();
  ScopedComPort com3(3, "/nonexistent/vorne-frames-test");
  IPtzControl* camera = Ready();
  ASSERT_NE(camera, nullptr);

  EXPECT_EQ(camera->Command(PTZ_ZOOM_IN), S_OK);
  EXPECT_EQ(Line(c.Frame(PTZ_ZOOM_IN).size()), Hex(c.Frame(PTZ_ZOOM_IN)));
  ASSERT_EQ(camera->SetComPort(2), S_OK);
  EXPECT_EQ(camera->Command(PTZ_STOP), S_OK);      // fails to open COM3
  EXPECT_EQ(camera->Command(PTZ_ZOOM_OUT), S_OK);  // refused: nothing tried
  EXPECT_EQ(host_.Lines(), (std::vector<std::string>{
                               "Set Control COM Port 3.\n",
                               "Open port exception,port = 3,BaudRate = 9600.\n",
                               "Open com port 3 failed,baudrate = 9600.\n",
                           }));
  TakeCycles();

  ASSERT_EQ(camera->SetComPort(HostPort()), S_OK);
  EXPECT_EQ(camera->Command(PTZ_STOP), S_OK);  // the stop again
  EXPECT_EQ(Line(c.Stop(PTZ_ZOOM_IN).size()), Hex(c.Stop(PTZ_ZOOM_IN)));
  EXPECT_EQ(TakeCycles(), kOneCycle);
  EXPECT_EQ(camera->Command(PTZ_STOP), S_OK);  // nothing left to stop
  EXPECT_EQ(Hex(RestOfTheLine()), "");
  EXPECT_EQ(TakeCycles(), PortCycles{});
}

INSTANTIATE_TEST_SUITE_P(Types, FramesEndToEndTest, ::testing::ValuesIn(kTypes),
                         [](const auto& info) { return info.param.name; });

// A port that is not there is said so in the log, once per frame tried:
// the motion and the stop that follows it.
using FramesMissingPortTest = LoadedModuleTest;

TEST_F(FramesMissingPortTest, EveryFrameTriedIsLogged) {
  ScopedComPort com3(3, "/nonexistent/vorne-frames-test");
  IPtzControl* camera = NewCamera();
  ASSERT_NE(camera, nullptr);
  ASSERT_EQ(camera->CreateController(PTZ_TYPE_PELCO_D, kParent, 0), S_OK);
  ASSERT_EQ(camera->SetComPort(2), S_OK);
  host_.ClearLines();

  EXPECT_EQ(camera->Command(PTZ_PAN_LEFT), S_OK);
  EXPECT_EQ(camera->Command(PTZ_STOP), S_OK);
  const std::vector<std::string> failed = {"Open port exception,port = 3,BaudRate = 9600.\n",
                                           "Open com port 3 failed,baudrate = 9600.\n"};
  std::vector<std::string> twice = failed;
  twice.insert(twice.end(), failed.begin(), failed.end());
  EXPECT_EQ(host_.Lines(), twice);
}

}  // namespace

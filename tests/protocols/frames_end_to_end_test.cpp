// The frame drivers as a host drives them: the module loaded through
// LumoDll, the camera on a pseudo-terminal standing in for COM2. Each
// command must put its exact frame on the line, in one open-write-close
// cycle of the port.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "port_watch.h"
#include "support/module_fixture.h"
#include "support/pty_pair.h"

namespace {

using vorne_test::Bytes;
using vorne_test::Hex;
using vorne_test::PortCycles;
using vorne_test::PortWatch;
using vorne_test::PtyPair;
using vorne_test::ScopedComPort;

const HWND kParent = reinterpret_cast<HWND>(0x1);
constexpr PortCycles kOneCycle = {1, 1};

// Frames by command number 1..6 (index 0 unused), then the two stops.
struct TypeCase {
  std::string name;
  std::int32_t type;
  std::int32_t addressCode;
  std::vector<std::string> addressLog;  // what SetAddressCode logs
  Bytes frames[7];
  Bytes panTiltStop;
  Bytes zoomStop;
};

void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.name; }

const TypeCase kTypes[] = {
    {"EVI_D31",
     PTZ_TYPE_EVI_D31,
     7,  // the VISCA frames keep camera 1 whatever the code
     {},
     {{},
      {0x81, 0x01, 0x06, 0x01, 0x09, 0x10, 0x01, 0x03, 0xFF, 0x00},
      {0x81, 0x01, 0x06, 0x01, 0x09, 0x10, 0x02, 0x03, 0xFF, 0x00},
      {0x81, 0x01, 0x06, 0x01, 0x03, 0x07, 0x03, 0x01, 0xFF, 0x00},
      {0x81, 0x01, 0x06, 0x01, 0x03, 0x07, 0x03, 0x02, 0xFF, 0x00},
      {0x81, 0x01, 0x04, 0x07, 0x24, 0xFF, 0x00},
      {0x81, 0x01, 0x04, 0x07, 0x34, 0xFF, 0x00}},
     {0x81, 0x01, 0x06, 0x01, 0x10, 0x10, 0x03, 0x03, 0xFF, 0x00},
     {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF, 0x00}},
    {"VIDEOTREC_PWT",
     PTZ_TYPE_VIDEOTREC_PWT,
     7,
     {},
     {{},
      {0xFA, 0x03, 0x00, 0x00, 0x60, 0x00, 0x5D},
      {0xFA, 0x04, 0x00, 0x00, 0x60, 0x00, 0x5E},
      {0xFA, 0x01, 0x00, 0x00, 0x60, 0x00, 0x5B},
      {0xFA, 0x02, 0x00, 0x00, 0x60, 0x00, 0x5C},
      {0xFA, 0x0C, 0x00, 0x00, 0x60, 0x00, 0x66},
      {0xFA, 0x0B, 0x00, 0x00, 0x60, 0x00, 0x65}},
     {0xFA, 0x01, 0x00, 0x00, 0x00, 0x00, 0x7B},
     {0xFA, 0x01, 0x00, 0x00, 0x00, 0x00, 0x7B}},
    // Pelco frames carry 0x0A: a line left in text mode would turn it into
    // 0D 0A on the way out.
    {"PELCO_D",
     PTZ_TYPE_PELCO_D,
     2,
     {"Set AddrCode 2.\n"},
     {{},
      {0xFF, 0x02, 0x00, 0x04, 0x20, 0x00, 0x26},
      {0xFF, 0x02, 0x00, 0x02, 0x20, 0x00, 0x24},
      {0xFF, 0x02, 0x00, 0x08, 0x00, 0x20, 0x2A},
      {0xFF, 0x02, 0x00, 0x10, 0x00, 0x20, 0x32},
      {0xFF, 0x02, 0x00, 0x20, 0x0A, 0x0A, 0x36},
      {0xFF, 0x02, 0x00, 0x40, 0x0A, 0x0A, 0x56}},
     {0xFF, 0x02, 0x00, 0x00, 0x00, 0x00, 0x02},
     {0xFF, 0x02, 0x00, 0x00, 0x00, 0x00, 0x02}},
    {"PELCO_P",
     PTZ_TYPE_PELCO_P,
     2,
     {"Set AddrCode 2.\n"},
     {{},
      {0xA0, 0x01, 0x00, 0x04, 0x10, 0x00, 0xAF, 0x1A},
      {0xA0, 0x01, 0x00, 0x02, 0x10, 0x00, 0xAF, 0x1C},
      {0xA0, 0x01, 0x00, 0x08, 0x00, 0x30, 0xAF, 0x36},
      {0xA0, 0x01, 0x00, 0x10, 0x00, 0x30, 0xAF, 0x2E},
      {0xA0, 0x01, 0x00, 0x40, 0x00, 0x00, 0xAF, 0x4E},
      {0xA0, 0x01, 0x00, 0x20, 0x00, 0x00, 0xAF, 0x2E}},
     {0xA0, 0x01, 0x00, 0x00, 0x00, 0x00, 0xAF, 0x0E},
     {0xA0, 0x01, 0x00, 0x00, 0x00, 0x00, 0xAF, 0x0E}},
};

class FramesEndToEndTest : public vorne_test::LoadedModuleTest,
                           public ::testing::WithParamInterface<TypeCase> {
 protected:
  void SetUp() override {
    LoadedModuleTest::SetUp();
    ASSERT_TRUE(pty_.Ok()) << pty_.Error();
    ASSERT_TRUE(watch_.ok());
  }

  // A camera of the case's type on COM2 at the case's address, with the
  // log and the port events of the set-up taken away.
  IPtzControl* Ready() {
    IPtzControl* camera = NewCamera();
    if (camera == nullptr) return nullptr;
    EXPECT_EQ(camera->CreateController(GetParam().type, kParent, 0), S_OK);
    EXPECT_EQ(camera->SetComPort(1), S_OK);
    EXPECT_EQ(camera->SetAddressCode(GetParam().addressCode), S_OK);
    std::vector<std::string> expected = {"Set Control COM Port 2.\n"};
    expected.insert(expected.end(), GetParam().addressLog.begin(), GetParam().addressLog.end());
    EXPECT_EQ(host_.Lines(), expected);
    host_.ClearLines();
    watch_.Take();
    return camera;
  }

  // The bytes that came on the line, as many as expected, in hex.
  std::string Line(std::size_t count) { return Hex(pty_.ReadMaster(count)); }

  PtyPair pty_;
  ScopedComPort com2_{2, pty_.SlavePath()};
  PortWatch watch_{pty_.SlavePath()};
};

TEST_P(FramesEndToEndTest, EveryCommandPutsItsFrameOnTheLineInItsOwnCycle) {
  const TypeCase& c = GetParam();
  IPtzControl* camera = Ready();
  ASSERT_NE(camera, nullptr);

  for (std::int32_t command = PTZ_PAN_LEFT; command <= PTZ_ZOOM_OUT; ++command) {
    SCOPED_TRACE(command);
    const bool zoom = command >= PTZ_ZOOM_IN;
    const Bytes& stop = zoom ? c.zoomStop : c.panTiltStop;

    EXPECT_EQ(camera->Command(command), S_OK);
    EXPECT_EQ(Line(c.frames[command].size()), Hex(c.frames[command]));
    EXPECT_EQ(watch_.Take(), kOneCycle);

    EXPECT_EQ(camera->Command(PTZ_STOP), S_OK);
    EXPECT_EQ(Line(stop.size()), Hex(stop));
    EXPECT_EQ(watch_.Take(), kOneCycle);
  }

  // Nothing is running now: a stop sends nothing and leaves the port alone.
  EXPECT_EQ(camera->Command(PTZ_STOP), S_OK);
  EXPECT_EQ(watch_.Take(), PortCycles{});
  EXPECT_EQ(Hex(pty_.ReadAvailable()), "");
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
  EXPECT_EQ(Line(c.frames[PTZ_PAN_LEFT].size() + c.frames[PTZ_ZOOM_IN].size()),
            Hex(c.frames[PTZ_PAN_LEFT]) + " " + Hex(c.frames[PTZ_ZOOM_IN]));
  EXPECT_EQ(watch_.Take(), (PortCycles{2, 2}));

  EXPECT_EQ(camera->DestroyController(), S_OK);
  EXPECT_EQ(Line(c.panTiltStop.size() + c.zoomStop.size()),
            Hex(c.panTiltStop) + " " + Hex(c.zoomStop));
  EXPECT_EQ(watch_.Take(), (PortCycles{2, 2}));

  // Gone: no controller, nothing more on the line.
  EXPECT_EQ(camera->Command(PTZ_STOP), E_UNEXPECTED);
  EXPECT_EQ(Hex(pty_.ReadAvailable()), "");
  EXPECT_EQ(host_.Lines(), std::vector<std::string>{});
}

TEST_P(FramesEndToEndTest, ReleasingTheComponentStopsTheCamera) {
  const TypeCase& c = GetParam();
  IPtzControl* camera = Ready();
  ASSERT_NE(camera, nullptr);

  EXPECT_EQ(camera->Command(PTZ_ZOOM_OUT), S_OK);
  EXPECT_EQ(Line(c.frames[PTZ_ZOOM_OUT].size()), Hex(c.frames[PTZ_ZOOM_OUT]));
  watch_.Take();

  camera->Release();
  cameras_.clear();
  EXPECT_EQ(Line(c.zoomStop.size()), Hex(c.zoomStop));
  EXPECT_EQ(watch_.Take(), kOneCycle);
  EXPECT_EQ(Hex(pty_.ReadAvailable()), "");
}

INSTANTIATE_TEST_SUITE_P(Types, FramesEndToEndTest, ::testing::ValuesIn(kTypes),
                         [](const auto& info) { return info.param.name; });

// A port that is not there is said so in the log, once per frame tried:
// the motion and the stop that follows it.
using FramesMissingPortTest = vorne_test::LoadedModuleTest;

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

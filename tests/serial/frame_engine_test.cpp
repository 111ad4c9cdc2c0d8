// The frame command engine: which frame each motion sends, the motion-group
// rules, and that every send goes through the overridable slots.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "serial/test_driver.h"
#include "support/module_fixture.h"
#include "support/pty_pair.h"

using namespace vorne;

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using vorne_test::Bytes;
using vorne_test::Hex;
using vorne_test::TestDriver;

// Records every Write instead of reaching a port, and answers with
// `writeResult`.
class WriteRecorder : public TestDriver {
 public:
  int Write(const std::uint8_t* bytes, unsigned length) override {
    sent.push_back(Hex(Bytes(bytes, bytes + length)));
    return writeResult;
  }
  std::vector<std::string> sent;
  int writeResult = 1;
};

std::string FrameText(const CommandFrame& frame) { return Hex(TestDriver::FrameBytes(frame)); }

TEST(FrameEngine, EachMotionSendsItsOwnFrame) {
  using S = SerialPtzController;
  struct Case {
    const char* name;
    std::function<int(S&)> motion;
    CommandFrame S::*frame;
    std::int32_t S::*group;
  };
  const Case cases[] = {
      {"PanLeft", &S::PanLeft, &S::panLeftFrame, &S::panTiltMoving},
      {"PanRight", &S::PanRight, &S::panRightFrame, &S::panTiltMoving},
      {"TiltUp", &S::TiltUp, &S::tiltUpFrame, &S::panTiltMoving},
      {"TiltDown", &S::TiltDown, &S::tiltDownFrame, &S::panTiltMoving},
      {"ZoomIn", &S::ZoomIn, &S::zoomInFrame, &S::zoomMoving},
      {"ZoomOut", &S::ZoomOut, &S::zoomOutFrame, &S::zoomMoving},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteRecorder driver;
    EXPECT_EQ(c.motion(driver), 1);
    EXPECT_EQ(driver.*c.group, 1);
    EXPECT_THAT(driver.sent, ElementsAre(FrameText(driver.*c.frame)));
  }
}

TEST(FrameEngine, MotionGroupRules) {
  WriteRecorder driver;
  const std::string panLeft = FrameText(driver.panLeftFrame);
  const std::string zoomIn = FrameText(driver.zoomInFrame);
  const std::string panTiltStop = FrameText(driver.panTiltStopFrame);
  const std::string zoomStop = FrameText(driver.zoomStopFrame);

  driver.Stop();  // idle: nothing goes out
  EXPECT_THAT(driver.sent, IsEmpty());

  EXPECT_EQ(driver.PanLeft(), 1);
  EXPECT_EQ(driver.PanLeft(), 0);  // same motion again
  EXPECT_EQ(driver.TiltUp(), 0);   // other direction, same group
  EXPECT_EQ(driver.PanRight(), 0);
  EXPECT_EQ(driver.ZoomIn(), 1);  // the other group still moves
  EXPECT_EQ(driver.ZoomOut(), 0);
  EXPECT_THAT(driver.sent, ElementsAre(panLeft, zoomIn));

  driver.sent.clear();
  driver.Stop();  // pan/tilt stop first, then zoom stop
  EXPECT_THAT(driver.sent, ElementsAre(panTiltStop, zoomStop));
  EXPECT_EQ(driver.panTiltMoving, 0);
  EXPECT_EQ(driver.zoomMoving, 0);

  driver.sent.clear();
  EXPECT_EQ(driver.PanLeft(), 1);  // moves again after Stop
  driver.Stop();
  EXPECT_THAT(driver.sent, ElementsAre(panLeft, panTiltStop));  // zoom was idle
}

TEST(FrameEngine, AFailedSendLeavesTheGroupMoving) {
  WriteRecorder driver;
  driver.writeResult = 0;
  EXPECT_EQ(driver.PanLeft(), 0);
  EXPECT_EQ(driver.panTiltMoving, 1);
  EXPECT_EQ(driver.PanLeft(), 0);  // refused without trying the port
  EXPECT_EQ(driver.sent.size(), 1u);
  driver.Stop();  // still tries the stop frame
  EXPECT_EQ(driver.sent.back(), FrameText(driver.panTiltStopFrame));
  // The stop did not go out: the group stays moving, motions stay refused,
  // and the next Stop sends it again.
  EXPECT_EQ(driver.panTiltMoving, 1);
  EXPECT_EQ(driver.PanRight(), 0);
  driver.writeResult = 1;
  driver.Stop();
  EXPECT_EQ(driver.sent.size(), 3u);
  EXPECT_EQ(driver.sent.back(), FrameText(driver.panTiltStopFrame));
  EXPECT_EQ(driver.panTiltMoving, 0);
}

TEST(FrameEngine, AnEmptyFrameReturnsZeroYetCountsAsMoving) {
  WriteRecorder driver;
  driver.zoomInFrame.length = 0;
  driver.writeResult = 0;  // as the real Write answers for no bytes
  EXPECT_EQ(driver.ZoomIn(), 0);
  EXPECT_EQ(driver.zoomMoving, 1);
  driver.writeResult = 1;
  driver.Stop();
  EXPECT_EQ(driver.sent.back(), FrameText(driver.zoomStopFrame));
}

TEST(FrameEngine, AnOversizedLengthNeverReadsPastTheFrame) {
  WriteRecorder driver;
  driver.panLeftFrame.length = 17;
  driver.tiltUpFrame.length = -1;
  EXPECT_EQ(driver.PanLeft(), 0);
  driver.Stop();
  EXPECT_EQ(driver.TiltUp(), 0);
  EXPECT_EQ(driver.sent, std::vector<std::string>{FrameText(driver.panTiltStopFrame)});
}

TEST(FrameEngine, SetAddressCodeChangesNothing) {
  WriteRecorder driver;
  const TestDriver before;
  for (int code : {0, 1, 255, -1, 70000}) EXPECT_EQ(driver.SetAddressCode(code), 1);
  EXPECT_EQ(std::memcmp(&driver.tiltUpFrame, &before.tiltUpFrame, 8 * sizeof(CommandFrame)), 0);
  EXPECT_THAT(driver.sent, IsEmpty());
}

// The engine and the link call Stop, OpenPort, ClosePort and Write through
// their slots, so a driver's replacements run.
class SlotWatcher : public TestDriver {
 public:
  void Stop() override {
    calls.push_back("Stop");
    TestDriver::Stop();
  }
  int OpenPort() override {
    calls.push_back("OpenPort");
    return openResult;
  }
  void ClosePort() override { calls.push_back("ClosePort"); }
  int Write(const std::uint8_t* bytes, unsigned length) override {
    calls.push_back("Write " + std::to_string(length));
    return TestDriver::Write(bytes, length);
  }
  std::vector<std::string> calls;
  int openResult = 1;
};

class FrameEngineSlots : public vorne_test::InProcessTest {};

TEST_F(FrameEngineSlots, EverySendGoesThroughTheSlots) {
  AttachLog();
  SlotWatcher driver;
  driver.SetComPort(2);
  EXPECT_EQ(driver.ZoomOut(), 1);
  driver.Close();
  EXPECT_THAT(driver.calls, ElementsAre("Write 7", "OpenPort", "ClosePort", "Stop", "Write 10",
                                        "OpenPort", "ClosePort"));

  driver.calls.clear();
  driver.openResult = 0;
  EXPECT_EQ(driver.PanRight(), 0);
  EXPECT_THAT(driver.calls, ElementsAre("Write 6", "OpenPort"));  // no ClosePort
  EXPECT_THAT(LogLines(), ElementsAre("Set Control COM Port 3.\n",
                                      "Open com port 3 failed,baudrate = 9600.\n"));
}

}  // namespace

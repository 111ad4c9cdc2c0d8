// The frame command engine: which frame each motion sends, the motion-group
// rules, and that every send goes through the overridable slots.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/comm_control.h"
#include "serial/test_driver.h"
#include "support/module_fixture.h"
#include "support/pty_pair.h"
#include "support/recording_control.h"

using namespace vorne;

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using vorne_test::Bytes;
using vorne_test::Hex;
using vorne_test::TestDriver;

// Records every Write instead of reaching a port, and answers with
// `writeResult`; with `undelivered` the frame counts as not delivered, as
// the link's Write marks a put or a close that raised.
class WriteRecorder : public TestDriver {
 public:
  int Write(const std::uint8_t* bytes, unsigned length) override {
    sent.push_back(Hex(Bytes(bytes, bytes + length)));
    if (!script.empty()) {
      std::tie(writeResult, undelivered) = script.front();
      script.pop_front();
    }
    writeUndelivered_ = undelivered;
    return writeResult;
  }
  std::vector<std::string> sent;
  int writeResult = 1;
  bool undelivered = false;
  // Answers for the next Writes, before the two above.
  std::deque<std::pair<int, bool>> script;
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
  driver.Stop();  // still tries the stop frame, and ends the group
  EXPECT_EQ(driver.sent.back(), FrameText(driver.panTiltStopFrame));
  EXPECT_EQ(driver.panTiltMoving, 0);
}

// How a motion's Write and its stop's Write went.
enum class Outcome {
  kNotOpened,    // Write returned 0: the port did not open (or no bytes)
  kUndelivered,  // Write returned 1, but the put or the close raised
  kSent,         // Write returned 1, nothing raised
};

const char* Name(Outcome outcome) {
  switch (outcome) {
    case Outcome::kNotOpened: return "not opened";
    case Outcome::kUndelivered: return "undelivered";
    case Outcome::kSent: return "sent";
  }
  return "?";
}

void Answer(WriteRecorder& driver, Outcome outcome) {
  driver.writeResult = outcome == Outcome::kNotOpened ? 0 : 1;
  driver.undelivered = outcome == Outcome::kUndelivered;
}

// The stop rule: a group stays moving after a stop that could not be sent
// only when its motion's frame may have reached the camera (its Write
// returned 1); the next Stop then sends the stop again. A motion that never
// left is forgotten at any Stop.
TEST(FrameEngine, AFailedStopKeepsOnlyAMotionThatMayHaveLeft) {
  using S = SerialPtzController;
  struct Group {
    const char* name;
    int (S::*motion)();
    int (S::*other)();  // a second motion of the same group
    CommandFrame S::*otherFrame;
    CommandFrame S::*stop;
    std::int32_t S::*moving;
  };
  const Group groups[] = {
      {"pan/tilt", &S::PanLeft, &S::TiltDown, &S::tiltDownFrame, &S::panTiltStopFrame,
       &S::panTiltMoving},
      {"zoom", &S::ZoomIn, &S::ZoomOut, &S::zoomOutFrame, &S::zoomStopFrame, &S::zoomMoving},
  };
  struct Row {
    Outcome motion;
    Outcome stop;
    bool staysMoving;
  };
  const Row rows[] = {
      {Outcome::kNotOpened, Outcome::kNotOpened, false},  // a plain Stop
      {Outcome::kNotOpened, Outcome::kUndelivered, false},
      {Outcome::kNotOpened, Outcome::kSent, false},
      {Outcome::kUndelivered, Outcome::kNotOpened, true},  // the motion may have left
      {Outcome::kUndelivered, Outcome::kUndelivered, true},
      {Outcome::kUndelivered, Outcome::kSent, false},
      {Outcome::kSent, Outcome::kNotOpened, true},
      {Outcome::kSent, Outcome::kUndelivered, true},
      {Outcome::kSent, Outcome::kSent, false},
  };
  for (const Group& group : groups) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(group.name) + ": motion " + Name(row.motion) + ", stop " +
                   Name(row.stop));
      WriteRecorder driver;
      const std::string stop = FrameText(driver.*group.stop);
      Answer(driver, row.motion);
      EXPECT_EQ((driver.*group.motion)(), driver.writeResult);  // the result as before
      Answer(driver, row.stop);
      driver.Stop();
      ASSERT_EQ(driver.sent.size(), 2u);
      EXPECT_EQ(driver.sent.back(), stop);
      EXPECT_EQ(driver.*group.moving, row.staysMoving ? 1 : 0);

      Answer(driver, Outcome::kSent);
      driver.sent.clear();
      if (row.staysMoving) {
        EXPECT_EQ((driver.*group.other)(), 0);  // still refused
        EXPECT_THAT(driver.sent, IsEmpty());
        driver.Stop();  // sends the stop again
        EXPECT_THAT(driver.sent, ElementsAre(stop));
        EXPECT_EQ(driver.*group.moving, 0);
      } else {
        driver.Stop();  // nothing left to stop
        EXPECT_THAT(driver.sent, IsEmpty());
      }
      driver.sent.clear();
      EXPECT_EQ((driver.*group.other)(), 1);  // free again: the motion goes out
      EXPECT_THAT(driver.sent, ElementsAre(FrameText(driver.*group.otherFrame)));
    }
  }
}

TEST(FrameEngine, EachGroupFollowsTheStopRuleOnItsOwn) {
  // Both motions went out; of the two stops only the pan/tilt one is sent.
  WriteRecorder driver;
  EXPECT_EQ(driver.PanLeft(), 1);
  EXPECT_EQ(driver.ZoomIn(), 1);
  driver.sent.clear();
  driver.script = {{1, false}, {1, true}};
  driver.Stop();
  EXPECT_THAT(driver.sent,
              ElementsAre(FrameText(driver.panTiltStopFrame), FrameText(driver.zoomStopFrame)));
  EXPECT_EQ(driver.panTiltMoving, 0);
  EXPECT_EQ(driver.zoomMoving, 1);
  driver.undelivered = false;
  EXPECT_EQ(driver.TiltUp(), 1);  // pan/tilt is free again
  driver.sent.clear();
  driver.Stop();  // both stops: the new tilt's and the zoom's again
  EXPECT_THAT(driver.sent,
              ElementsAre(FrameText(driver.panTiltStopFrame), FrameText(driver.zoomStopFrame)));
  EXPECT_EQ(driver.panTiltMoving + driver.zoomMoving, 0);
}

TEST(FrameEngine, CloseEndsTheMarksWhateverTheStopDid) {
  // Nothing can be sent once the control is gone.
  WriteRecorder driver;
  EXPECT_EQ(driver.PanLeft(), 1);
  Answer(driver, Outcome::kNotOpened);
  driver.Close();
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

// The stop rule over the real port link, its control a recording one: the
// port's open, the put and the close decide.
class FrameEngineOnPort : public vorne_test::InProcessTest {
 protected:
  void SetUp() override {
    InProcessTest::SetUp();
    AttachLog();
  }

  static CWnd* Parent() { return CWnd::FromHandle(reinterpret_cast<HWND>(0x5151)); }

  // The bytes put to the port so far, in hex.
  std::vector<std::string> Sent() const {
    std::vector<std::string> sent;
    for (const vorne_test::PropertyCall& call : control_.RawCalls()) {
      if (call.kind == vorne_test::CallKind::kPut && call.id == comm_property::kOutput)
        sent.push_back(Hex(call.value.bytes));
    }
    return sent;
  }

  vorne_test::RecordingControl control_;  // outlives the drivers and their controls
};

// With no port selected (or a missing device, or a refused rate) the motion
// never leaves: the Stop that follows ends the group, and once a port is
// set the next motion goes out.
TEST_F(FrameEngineOnPort, AMotionThatNeverLeftIsForgottenByStop) {
  using vorne_test::CallKind;
  struct Row {
    const char* name;
    CallKind kind;
    vorne::DISPID id;
    std::uint16_t code;
  };
  const Row rows[] = {
      // The recording control takes any number; the real one refuses -1.
      {"no port selected", CallKind::kPut, comm_property::kCommPort,
       comm_error::kInvalidPortNumber},
      {"no device", CallKind::kPut, comm_property::kPortOpen, comm_error::kDeviceNotAvailable},
      {"refused rate", CallKind::kPut, comm_property::kSettings, comm_error::kSettingsRefused},
  };
  // Each frame tried: the open's line, then Write's.
  const std::vector<std::string> perFrame = {"Open port exception,port = -1,BaudRate = 9600.\n",
                                             "Open com port -1 failed,baudrate = 9600.\n"};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestDriver driver;
    ASSERT_NE(driver.Init(Parent(), 0), 0);
    control_.ClearCalls();
    control_.ClearFailures();
    host_.ClearLines();
    control_.FailOn(row.kind, row.id, 0, -1, row.code);
    EXPECT_EQ(driver.PanLeft(), 0);  // Command(1): the open fails
    driver.Stop();                   // Command(0): so does the stop's
    EXPECT_EQ(driver.panTiltMoving, 0);
    std::vector<std::string> twice = perFrame;
    twice.insert(twice.end(), perFrame.begin(), perFrame.end());
    EXPECT_EQ(LogLines(), twice);
    EXPECT_THAT(Sent(), IsEmpty());

    control_.ClearFailures();
    host_.ClearLines();
    EXPECT_EQ(driver.SetComPort(0), 1);
    EXPECT_EQ(driver.PanLeft(), 1);  // Command(1) now sends its frame
    EXPECT_THAT(Sent(), ElementsAre(FrameText(driver.panLeftFrame)));
    EXPECT_THAT(LogLines(), ElementsAre("Set Control COM Port 1.\n"));
    driver.Close();
  }
}

// Port 1 opened for the motion; its stop could not be sent: the group stays
// moving and the next Stop sends the stop again.
TEST_F(FrameEngineOnPort, AStopThatCouldNotBeSentIsSentByTheNextStop) {
  using vorne_test::CallKind;
  const std::string stopLength = std::to_string(TestDriver().panTiltStopFrame.length);
  struct Row {
    const char* name;
    CallKind kind;
    vorne::DISPID id;
    int skip;  // calls of the motion's cycle that pass
    std::uint16_t code;
    bool stopRecorded;  // the stop's bytes among the puts (also one that raised)
    std::vector<std::string> lines;
  };
  const Row rows[] = {
      {"the stop's open fails",
       CallKind::kPut,
       comm_property::kCommPort,
       1,
       comm_error::kPortInUse,
       false,
       {"Open port exception,port = 1,BaudRate = 9600.\n",
        "Open com port 1 failed,baudrate = 9600.\n"}},
      {"the stop's put raises",
       CallKind::kPut,
       comm_property::kOutput,
       1,
       comm_error::kTransmitFailed,
       true,
       {"Write Data Exception,DataLen = " + stopLength + ",Port = 1.\n"}},
      // The motion's cycle puts the open state twice: open, close.
      {"the stop's close raises 8019",
       CallKind::kPut,
       comm_property::kPortOpen,
       3,
       comm_error::kTransmitFailed,
       true,
       {"Write Data Exception,DataLen = " + stopLength + ",Port = 1.\n"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestDriver driver;
    ASSERT_NE(driver.Init(Parent(), 0), 0);
    ASSERT_EQ(driver.SetComPort(0), 1);
    control_.ClearCalls();
    control_.ClearFailures();
    host_.ClearLines();
    control_.FailOn(row.kind, row.id, row.skip, 1, row.code, "Error writing to the port");

    EXPECT_EQ(driver.PanLeft(), 1);
    driver.Stop();
    EXPECT_EQ(driver.panTiltMoving, 1);
    EXPECT_EQ(LogLines(), row.lines);
    std::vector<std::string> sent = {FrameText(driver.panLeftFrame)};
    if (row.stopRecorded) sent.push_back(FrameText(driver.panTiltStopFrame));
    EXPECT_EQ(Sent(), sent);

    control_.ClearCalls();
    EXPECT_EQ(driver.TiltUp(), 0);  // still refused, the port untouched
    EXPECT_THAT(control_.Calls(), IsEmpty());
    host_.ClearLines();
    driver.Stop();  // sends the stop again
    EXPECT_THAT(Sent(), ElementsAre(FrameText(driver.panTiltStopFrame)));
    EXPECT_EQ(driver.panTiltMoving, 0);
    EXPECT_THAT(LogLines(), IsEmpty());
    driver.Close();
  }
}

}  // namespace

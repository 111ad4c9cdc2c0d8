// The port link as the communications control sees it: the exact property
// calls of each operation, and the log lines and results of each failure.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/comm_control.h"
#include "serial/test_driver.h"
#include "support/module_fixture.h"
#include "support/recording_control.h"

using namespace vorne;

namespace {

using namespace comm_property;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using vorne_test::BoolVariant;
using vorne_test::CallKind;
using vorne_test::RecordingControl;
using vorne_test::TestDriver;
using Lines = std::vector<std::string>;

const std::uint8_t kFrame[7] = {0xFF, 0x01, 0x00, 0x04, 0x20, 0x00, 0x25};

Lines Concat(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// One open-write-close cycle of `bytes` on `port` at `settings`; a port
// found open is closed first.
Lines Cycle(int port, const std::string& settings, const std::string& bytes,
            bool foundOpen = false) {
  Lines calls = vorne_test::OpenSequence(port, settings);
  if (foundOpen) calls.insert(calls.begin() + 1, "put 20 = false");
  return Concat(calls, {"put 25 = [" + bytes + "]", "get 20", "put 20 = false"});
}

class PortLinkTest : public vorne_test::InProcessTest {
 protected:
  void SetUp() override {
    InProcessTest::SetUp();
    AttachLog();
  }

  static CWnd* Parent() { return CWnd::FromHandle(reinterpret_cast<HWND>(0x5150)); }

  // An initialised driver on port 2, calls and log cleared.
  void Ready() {
    ASSERT_NE(driver_.Init(Parent(), 0), 0);
    ASSERT_EQ(driver_.SetComPort(1), 1);
    control_.ClearCalls();
    host_.ClearLines();
  }

  RecordingControl control_;  // outlives the driver and its control
  TestDriver driver_;
};

TEST_F(PortLinkTest, ConstructionDefaults) {
  EXPECT_EQ(driver_.port, -1);
  EXPECT_EQ(driver_.camera, 0);
  EXPECT_EQ(driver_.baudRate, 9600);
  EXPECT_EQ(driver_.zoomMoving, 0);
  EXPECT_EQ(driver_.panTiltMoving, 0);
  EXPECT_EQ(driver_.comm.GetSafeHwnd(), nullptr);
  EXPECT_EQ(SerialPtzController().panLeftFrame.length, 0);
  EXPECT_EQ(control_.ControlsCreated(), 0);
}

TEST_F(PortLinkTest, InitHostsOneControlUntilClose) {
  const int created = driver_.Init(Parent(), 7);
  EXPECT_NE(created, 0);
  EXPECT_TRUE(vorne::IsWindow(driver_.comm.GetSafeHwnd()));
  EXPECT_EQ(control_.ControlsAlive(), 1);
  EXPECT_EQ(driver_.camera, 0);  // the camera number means nothing here
  EXPECT_THAT(LogLines(), IsEmpty());

  const HWND window = driver_.comm.GetSafeHwnd();
  driver_.Close();
  EXPECT_FALSE(vorne::IsWindow(window));
  EXPECT_EQ(driver_.comm.GetSafeHwnd(), nullptr);
  EXPECT_EQ(control_.ControlsAlive(), 0);
  EXPECT_THAT(control_.Calls(), ElementsAre("get 20"));  // the port was closed already
}

TEST_F(PortLinkTest, InitFailuresAreLogged) {
  struct Case {
    const char* name;
    bool parent;
    bool refuse;
    bool raise;
  };
  for (const Case& c :
       {Case{"no parent", false, false, false}, Case{"control refused", true, true, false},
        Case{"creation raises", true, false, true}}) {
    SCOPED_TRACE(c.name);
    host_.ClearLines();
    control_.RefuseCreation(c.refuse);
    control_.ThrowOnCreation(c.raise);
    TestDriver driver;
    EXPECT_EQ(driver.Init(c.parent ? Parent() : nullptr, 0), 0);
    EXPECT_EQ(driver.comm.GetSafeHwnd(), nullptr);
    EXPECT_THAT(LogLines(), ElementsAre("Create MSComm Failed.\n"));
  }
  EXPECT_EQ(control_.ControlsAlive(), 0);
}

TEST_F(PortLinkTest, SuccessfulWriteMakesOneFullCycle) {
  Ready();
  EXPECT_EQ(driver_.Write(kFrame, 7), 1);
  EXPECT_EQ(control_.Calls(), Cycle(2, "9600,n,8,1", "FF 01 00 04 20 00 25"));
  EXPECT_THAT(LogLines(), IsEmpty());
}

TEST_F(PortLinkTest, PortFoundOpenIsClosedFirst) {
  Ready();
  control_.AnswerOnce(kPortOpen, BoolVariant(true));
  EXPECT_EQ(driver_.Write(kFrame, 1), 1);
  EXPECT_EQ(control_.Calls(), Cycle(2, "9600,n,8,1", "FF", true));
}

TEST_F(PortLinkTest, StopWithBothGroupsMovingMakesTwoCycles) {
  Ready();
  ASSERT_EQ(driver_.PanLeft(), 1);
  ASSERT_EQ(driver_.ZoomIn(), 1);
  control_.ClearCalls();
  driver_.Stop();
  EXPECT_EQ(control_.Calls(), Concat(Cycle(2, "9600,n,8,1", "A6 01 02 03 04 05 06 07 08"),
                                     Cycle(2, "9600,n,8,1", "A7 01 02 03 04 05 06 07 08 09")));
}

TEST_F(PortLinkTest, SetComPortRules) {
  Ready();  // port 2
  struct Case {
    int index;
    int result;
    int port;
    Lines log;
  };
  const Case cases[] = {
      {1, 1, 2, {}},                             // unchanged: no log
      {0, 1, 1, {"Set Control COM Port 1.\n"}},  // index 0 is port 1
      {0, 1, 1, {}},                             // again: no log
      {3, 1, 4, {"Set Control COM Port 4.\n"}},  // highest
      {4, 0, 4, {}},                             // port 5: refused
      {-1, 0, 4, {}},                            // port 0: refused
      {2147483647, 0, 4, {}},                    // no overflow into range
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    host_.ClearLines();
    EXPECT_EQ(driver_.SetComPort(c.index), c.result);
    EXPECT_EQ(driver_.port, c.port);
    EXPECT_EQ(LogLines(), c.log);
  }
  EXPECT_THAT(control_.Calls(), IsEmpty());

  TestDriver fresh;
  EXPECT_EQ(fresh.SetComPort(-2), 1);  // -2 + 1 is the unset port itself
  EXPECT_EQ(fresh.port, -1);
}

TEST_F(PortLinkTest, SetBaudRateWhileClosedOnlyAsksAndAppliesAtNextOpen) {
  Ready();
  EXPECT_EQ(driver_.SetBaudRate(4800), 1);
  EXPECT_EQ(driver_.baudRate, 4800);
  EXPECT_THAT(control_.Calls(), ElementsAre("get 20"));
  EXPECT_THAT(LogLines(), ElementsAre("SetBaudRate 4800.\n"));

  control_.ClearCalls();
  EXPECT_EQ(driver_.Write(kFrame, 2), 1);
  EXPECT_EQ(control_.Calls(), Cycle(2, "4800,n,8,1", "FF 01"));
}

TEST_F(PortLinkTest, SetBaudRateOnAnOpenPortAppliesAtOnce) {
  Ready();
  control_.AnswerOnce(kPortOpen, BoolVariant(true));
  EXPECT_EQ(driver_.SetBaudRate(19200), 1);
  EXPECT_THAT(control_.Calls(), ElementsAre("get 20", "put 23 = \"19200,n,8,1\""));
}

TEST_F(PortLinkTest, SetBaudRateRefusedKeepsTheRate) {
  Ready();
  control_.AnswerOnce(kPortOpen, BoolVariant(true));
  control_.FailOn(CallKind::kPut, kSettings, 0, 1, 380, "Invalid property value");
  EXPECT_EQ(driver_.SetBaudRate(-5), 0);
  EXPECT_EQ(driver_.baudRate, -5);
  EXPECT_THAT(LogLines(),
              ElementsAre("SetBaudRate -5.\n", "Set BaudRate Exception,BaudRate = -5.\n"));
}

TEST_F(PortLinkTest, WriteOfNothingTouchesNothing) {
  Ready();
  EXPECT_EQ(driver_.Write(kFrame, 0), 0);
  EXPECT_EQ(driver_.Write(nullptr, 7), 0);
  EXPECT_THAT(control_.Calls(), IsEmpty());
  EXPECT_THAT(LogLines(), IsEmpty());
}

TEST_F(PortLinkTest, WriteWithoutPortSelectedFailsWithBothLines) {
  ASSERT_NE(driver_.Init(Parent(), 0), 0);
  // The real control refuses port number -1.
  control_.FailOn(CallKind::kPut, kCommPort);
  for (int i = 0; i < 2; ++i) {
    host_.ClearLines();
    control_.ClearCalls();
    EXPECT_EQ(driver_.Write(kFrame, 7), 0);
    EXPECT_THAT(control_.Calls(), ElementsAre("get 20", "put 4 = -1"));
    EXPECT_THAT(LogLines(), ElementsAre("Open port exception,port = -1,BaudRate = 9600.\n",
                                        "Open com port -1 failed,baudrate = 9600.\n"));
  }
}

TEST_F(PortLinkTest, AnyOpenStepFailingSkipsTheRestAndReleasesAnOpenedPort) {
  struct Step {
    CallKind kind;
    vorne::DISPID id;
    int skip;          // matching calls that pass first
    std::size_t made;  // calls made, the failing one included
  };
  // The first open-state query belongs to ClosePort, whose errors are
  // dropped; the second is the open's own.
  const Step steps[] = {
      {CallKind::kPut, kCommPort, 0, 2},      {CallKind::kPut, kInBufferSize, 0, 3},
      {CallKind::kPut, kOutBufferSize, 0, 4}, {CallKind::kGet, kPortOpen, 1, 5},
      {CallKind::kPut, kPortOpen, 0, 6},      {CallKind::kPut, kInputMode, 0, 7},
      {CallKind::kPut, kSettings, 0, 8},      {CallKind::kPut, kRThreshold, 0, 9},
      {CallKind::kPut, kInputLen, 0, 10},
  };
  const Lines full = Cycle(2, "9600,n,8,1", "FF 01 00 04 20 00 25");
  for (const Step& step : steps) {
    SCOPED_TRACE(step.made);
    RecordingControl control;
    TestDriver driver;
    ASSERT_NE(driver.Init(Parent(), 0), 0);
    driver.SetComPort(1);
    host_.ClearLines();
    control.FailOn(step.kind, step.id, step.skip, 1);

    EXPECT_EQ(driver.Write(kFrame, 7), 0);
    Lines made(full.begin(), full.begin() + static_cast<long>(step.made));
    // Once the port is open, a failing step closes it again.
    if (step.made > 6) made.insert(made.end(), {"get 20", "put 20 = false"});
    EXPECT_EQ(control.Calls(), made);
    EXPECT_THAT(LogLines(), ElementsAre("Open port exception,port = 2,BaudRate = 9600.\n",
                                        "Open com port 2 failed,baudrate = 9600.\n"));
  }
}

TEST_F(PortLinkTest, RefusedSettingsLeaveThePortClosedForTheNextFrame) {
  Ready();
  control_.FailOn(CallKind::kPut, kSettings, 0, 1);
  EXPECT_EQ(driver_.Write(kFrame, 1), 0);
  EXPECT_FALSE(driver_.comm.GetOpenState());
  control_.ClearCalls();
  EXPECT_EQ(driver_.Write(kFrame, 1), 1);
  EXPECT_EQ(control_.Calls(), Cycle(2, "9600,n,8,1", "FF"));
}

TEST_F(PortLinkTest, FailedPutIsLoggedAndThePortStillClosed) {
  Ready();
  control_.FailOn(CallKind::kPut, kOutput, 0, 1, 8019, "Error writing to the port");
  EXPECT_EQ(driver_.Write(kFrame, 7), 1);
  EXPECT_EQ(control_.Calls(), Cycle(2, "9600,n,8,1", "FF 01 00 04 20 00 25"));
  EXPECT_THAT(LogLines(), ElementsAre("Write Data Exception,DataLen = 7,Port = 2.\n"));
}

// A put that raised, or a close that raised after it (the control could not
// confirm delivery: kTransmitFailed), writes the one "Write Data Exception"
// line: the put's at once, the close's once the close is over. The calls
// and the result stay as they are.
TEST_F(PortLinkTest, FailedPutOrCloseIsLoggedOnce) {
  struct Row {
    const char* name;
    bool put;
    bool close;
    std::size_t linesAtTheClose;  // log lines when the close's query ran
  };
  const Row rows[] = {
      {"the put raises", true, false, 1},
      {"the close raises", false, true, 0},
      {"both raise", true, true, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestDriver driver;
    ASSERT_NE(driver.Init(Parent(), 0), 0);
    driver.SetComPort(1);
    control_.ClearCalls();
    control_.ClearFailures();
    host_.ClearLines();
    // The second put of the open state is the close after the put.
    if (row.put) control_.FailOn(CallKind::kPut, kOutput, 0, 1, 8019, "Error writing to the port");
    if (row.close)
      control_.FailOn(CallKind::kPut, kPortOpen, 1, 1, 8019, "Error writing to the port");
    std::size_t linesAtTheClose = 99;
    control_.OnCall([&](const vorne_test::PropertyCall& call) {
      if (call.kind == CallKind::kGet && call.id == kPortOpen) linesAtTheClose = LogLines().size();
    });

    EXPECT_EQ(driver.Write(kFrame, 7), 1);
    EXPECT_EQ(control_.Calls(), Cycle(2, "9600,n,8,1", "FF 01 00 04 20 00 25"));
    EXPECT_EQ(linesAtTheClose, row.linesAtTheClose);
    EXPECT_THAT(LogLines(), ElementsAre("Write Data Exception,DataLen = 7,Port = 2.\n"));
    control_.OnCall(nullptr);

    // The next frame goes as usual. (The recording control still reads as
    // open after a close that raised, so the next open closes it first.)
    control_.ClearCalls();
    host_.ClearLines();
    EXPECT_EQ(driver.Write(kFrame, 1), 1);
    EXPECT_EQ(control_.Calls(), Cycle(2, "9600,n,8,1", "FF", row.close));
    EXPECT_THAT(LogLines(), IsEmpty());
    driver.Close();
  }
}

TEST_F(PortLinkTest, ClosingErrorsAreDropped) {
  Ready();
  // The third open-state query is the one of the ClosePort after the put:
  // a failed query is no failed close, and nothing is logged.
  control_.FailOn(CallKind::kGet, kPortOpen, 2, 1);
  EXPECT_EQ(driver_.Write(kFrame, 7), 1);
  EXPECT_THAT(LogLines(), IsEmpty());
  // ClosePort itself writes no line, also when the close raises.
  control_.ClearFailures();
  ASSERT_EQ(driver_.OpenPort(), 1);
  control_.FailOn(CallKind::kPut, kPortOpen, 0, 1, 8019, "Error writing to the port");
  driver_.ClosePort();
  EXPECT_THAT(LogLines(), IsEmpty());
  control_.ClearFailures();

  control_.FailOn(CallKind::kGet, kPortOpen);
  driver_.Close();
  EXPECT_THAT(LogLines(), IsEmpty());
  EXPECT_EQ(control_.ControlsAlive(), 0);  // the control goes all the same
}

TEST_F(PortLinkTest, WriteRawPutsOnlyTheBytes) {
  Ready();
  const std::uint8_t reply[3] = {0x02, 0x41, 0x03};
  EXPECT_EQ(driver_.WriteRaw(reply, 3), 1);
  EXPECT_EQ(driver_.WriteRaw(reply, 0), 1);
  EXPECT_THAT(control_.Calls(), ElementsAre("put 25 = [02 41 03]", "put 25 = []"));

  control_.FailOn(CallKind::kPut, kOutput);
  EXPECT_EQ(driver_.WriteRaw(reply, 3), 0);
  EXPECT_EQ(driver_.WriteRaw(nullptr, 3), 0);
  EXPECT_THAT(LogLines(), IsEmpty());

  driver_.Close();
  control_.ClearCalls();
  EXPECT_EQ(driver_.WriteRaw(kFrame, 7), 0);
  EXPECT_THAT(control_.Calls(), IsEmpty());
  TestDriver never;
  EXPECT_EQ(never.WriteRaw(kFrame, 7), 0);
}

TEST_F(PortLinkTest, WithoutAControlEveryAccessorIsQuiet) {
  // Close on a driver that never got its control only runs Stop, and the
  // accessors neither call nor raise.
  TestDriver driver;
  EXPECT_EQ(driver.PanLeft(), 1);
  driver.Close();
  EXPECT_FALSE(driver.comm.GetOpenState());
  EXPECT_EQ(driver.comm.GetReceivedCount(), 0);
  EXPECT_EQ(driver.comm.GetReceivedData().vt, vorne::VT_EMPTY);
  EXPECT_EQ(driver.panTiltMoving, 0);
  EXPECT_THAT(control_.Calls(), IsEmpty());
  EXPECT_THAT(LogLines(), IsEmpty());
}

TEST_F(PortLinkTest, DestructionStopsAMovingCameraFirst) {
  {
    TestDriver driver;
    ASSERT_NE(driver.Init(Parent(), 0), 0);
    driver.SetComPort(0);
    ASSERT_EQ(driver.TiltUp(), 1);
    control_.ClearCalls();
  }  // no Close: the destructor runs it
  Lines expected = Cycle(1, "9600,n,8,1", "A6 01 02 03 04 05 06 07 08");
  expected.push_back("get 20");  // the teardown's own check
  EXPECT_EQ(control_.Calls(), expected);
  EXPECT_EQ(control_.ControlsAlive(), 0);
}

TEST_F(PortLinkTest, ReceiveSideHandsOutWaitingBytes) {
  Ready();
  control_.QueueInput({0x90, 0x41, 0xFF});
  EXPECT_EQ(driver_.comm.GetReceivedCount(), 3);
  vorne::VARIANT data = driver_.comm.GetReceivedData();
  EXPECT_EQ(data.vt, vorne::VT_ARRAY | vorne::VT_UI1);
  EXPECT_EQ(data.bytes, (std::vector<std::uint8_t>{0x90, 0x41, 0xFF}));
  vorne::VariantClear(&data);
  EXPECT_EQ(data.vt, vorne::VT_EMPTY);
  EXPECT_EQ(driver_.comm.GetReceivedCount(), 0);
  EXPECT_THAT(control_.Calls(), ElementsAre("get 12", "get 26", "get 12"));
}

TEST_F(PortLinkTest, ControlErrorsCarryTheirNumberAndText) {
  Ready();
  control_.FailOn(CallKind::kPut, kCommPort, 0, 1, 8005, "Port already open");
  try {
    driver_.comm.SetPortNumber(3);
    FAIL() << "no error raised";
  } catch (const COleDispatchException& e) {
    EXPECT_EQ(e.m_wCode, 8005);
    EXPECT_EQ(e.m_strDescription, "Port already open");
  }
}

}  // namespace

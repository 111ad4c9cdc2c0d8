// The Canon VC-C50i driver: preparation frames before every accepted motion,
// the finishing frame after every stop, one open-write-read-close cycle per
// frame; against a recording control and, through the loaded module, against
// a pseudo-terminal.
#include "protocols/canon_vc.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "controller/factory.h"
#include "recorded_port.h"
#include "support/golden_frames.h"
#include "support/module_on_pty.h"

using namespace vorne;

namespace {

using namespace comm_property;
using namespace vorne_test;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Frames = std::vector<Bytes>;

const Bytes& kPrepareFirst = kCanonPrepareFirst;
const Bytes& kPrepareSecond = kCanonPrepareSecond;
const Bytes& kFinish = kCanonFinish;
const Bytes& kPanTiltStop = kCanonFrames[vorne_test::kPanTiltStop];
const Bytes& kZoomStop = kCanonFrames[vorne_test::kZoomStop];

struct Motion {
  const char* name;
  int (CanonVcController::*call)();
  Bytes frame;
  bool zoom;
};

const Motion kMotions[] = {
    {"PanLeft", &CanonVcController::PanLeft, kCanonFrames[kPanLeft], false},
    {"PanRight", &CanonVcController::PanRight, kCanonFrames[kPanRight], false},
    {"TiltUp", &CanonVcController::TiltUp, kCanonFrames[kTiltUp], false},
    {"TiltDown", &CanonVcController::TiltDown, kCanonFrames[kTiltDown], false},
    {"ZoomIn", &CanonVcController::ZoomIn, kCanonFrames[kZoomIn], true},
    {"ZoomOut", &CanonVcController::ZoomOut, kCanonFrames[kZoomOut], true},
};

const Motion& Find(const char* name) {
  for (const Motion& motion : kMotions) {
    if (std::string(motion.name) == name) return motion;
  }
  ADD_FAILURE() << "no motion " << name;
  return kMotions[0];
}

// The frames that start a motion from its group at rest.
Frames Started(const char* name) { return {kPrepareFirst, kPrepareSecond, Find(name).frame}; }

// One frame's cycle: the received data is read once.
Lines Cycle(const Bytes& frame) { return Exchange(frame, {"get 26"}); }

const std::string kNoPortLine = "Open port exception,port = 1,BaudRate = 9600.\n";

using CanonDriverTest = RecordedPortTest<CanonVcController>;

TEST_F(CanonDriverTest, EachMotionIsPreparedInItsOwnCyclesAndItsGroupStopped) {
  for (const Motion& motion : kMotions) {
    SCOPED_TRACE(motion.name);
    control_.ClearCalls();
    EXPECT_EQ(driver_.SetAddressCode(9), 1);  // no address in this protocol
    EXPECT_EQ((driver_.*motion.call)(), 1);
    Lines cycles;
    for (const Bytes& frame : Started(motion.name)) {
      const Lines cycle = Cycle(frame);
      cycles.insert(cycles.end(), cycle.begin(), cycle.end());
    }
    EXPECT_EQ(control_.Calls(), cycles);
    driver_.Stop();
    EXPECT_EQ(Sent(), (Frames{kPrepareFirst, kPrepareSecond, motion.frame,
                              motion.zoom ? kZoomStop : kPanTiltStop, kFinish}));
  }
  EXPECT_THAT(LogLines(), IsEmpty());
  // The stored frame slots are never used.
  EXPECT_EQ(driver_.panLeftFrame.length, 0);
  EXPECT_EQ(driver_.zoomStopFrame.length, 0);
}

TEST_F(CanonDriverTest, ZoomDuringAPanIsPreparedAgainThenEveryMotionIsRefusedSilently) {
  ASSERT_EQ(driver_.TiltUp(), 1);
  control_.ClearCalls();
  EXPECT_EQ(driver_.ZoomIn(), 1);
  EXPECT_EQ(Sent(), Started("ZoomIn"));
  control_.ClearCalls();
  for (const Motion& motion : kMotions) {
    EXPECT_EQ((driver_.*motion.call)(), 0) << motion.name;
  }
  // Not even the preparation frames, nor an open of the port.
  EXPECT_THAT(control_.Calls(), IsEmpty());
}

// Stops of the groups set moving, in this order, and what stopping sends.
struct StopRow {
  const char* name;
  std::vector<const char*> moving;
  Frames sent;
};

TEST_F(CanonDriverTest, StopSendsEachMovingGroupsStopThenTheFinishingFrame) {
  const StopRow rows[] = {
      {"nothing moving", {}, {kFinish}},
      {"pan", {"PanRight"}, {kPanTiltStop, kFinish}},
      {"zoom", {"ZoomIn"}, {kZoomStop, kFinish}},
      {"zoom started first, then tilt",
       {"ZoomOut", "TiltDown"},
       {kPanTiltStop, kZoomStop, kFinish}},
  };
  for (const StopRow& row : rows) {
    SCOPED_TRACE(row.name);
    for (const char* name : row.moving) (driver_.*Find(name).call)();
    control_.ClearCalls();
    driver_.Stop();
    EXPECT_EQ(Sent(), row.sent);
    EXPECT_EQ(driver_.panTiltMoving, 0);
    EXPECT_EQ(driver_.zoomMoving, 0);
  }
  // Both groups are free again.
  control_.ClearCalls();
  EXPECT_EQ(driver_.PanLeft(), 1);
  EXPECT_EQ(driver_.ZoomIn(), 1);
  EXPECT_EQ(Sent().size(), 6u);
}

TEST_F(CanonDriverTest, DestroyThroughTheFactorySendsTheFinishingFrame) {
  const StopRow rows[] = {
      {"never moved", {}, {kFinish}},
      {"pan and zoom running", {"PanLeft", "ZoomOut"}, {kPanTiltStop, kZoomStop, kFinish}},
  };
  for (const StopRow& row : rows) {
    SCOPED_TRACE(row.name);
    PtzController* made = CreatePtzController(PTZ_TYPE_VC_C50I, Parent(), 0);
    ASSERT_NE(made, nullptr);
    ASSERT_NE(dynamic_cast<CanonVcController*>(made), nullptr);
    made->SetComPort(3);
    for (const char* name : row.moving) (static_cast<CanonVcController*>(made)->*Find(name).call)();
    control_.ClearCalls();
    DestroyPtzController(made);
    EXPECT_EQ(Sent(), row.sent);
  }
}

TEST_F(CanonDriverTest, ReadsWhatTheCameraSentOnceAndDropsIt) {
  const Bytes chatter = {0xFE, 0x30, 0x30, 0x00, 0x53, 0x00, 0xEF};
  control_.QueueInput(chatter);
  EXPECT_EQ(driver_.TiltDown(), 1);
  std::vector<Bytes> reads;
  for (const PropertyCall& call : control_.RawCalls()) {
    if (call.kind == CallKind::kGet && call.id == kInput) reads.push_back(call.value.bytes);
  }
  // The first cycle took the camera's bytes; nothing came after them.
  EXPECT_THAT(reads, ElementsAre(chatter, Bytes{}, Bytes{}));
  EXPECT_THAT(LogLines(), IsEmpty());
}

TEST_F(CanonDriverTest, ControlErrorsAfterTheOpenAreSilentAndStillClose) {
  struct Row {
    const char* name;
    CallKind kind;
    vorne::DISPID id;
    Lines cycle;  // the calls of the failing cycle
  };
  const Row rows[] = {
      {"put of the frame", CallKind::kPut, kOutput, Exchange(kPrepareFirst, {})},  // no read
      {"read of the received data", CallKind::kGet, kInput, Cycle(kPrepareFirst)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    driver_.Stop();
    control_.ClearCalls();
    control_.ClearFailures();
    control_.FailOn(row.kind, row.id, 0, 1, comm_error::kTransmitFailed, "Error writing");
    EXPECT_EQ(driver_.PanRight(), 1);
    const Lines calls = control_.Calls();
    ASSERT_GE(calls.size(), row.cycle.size());
    EXPECT_EQ(Lines(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(row.cycle.size())),
              row.cycle);
    // The later frames go out as usual.
    EXPECT_EQ(Sent(), Started("PanRight"));
  }
  EXPECT_THAT(LogLines(), IsEmpty());
}

TEST_F(CanonDriverTest, OpenFailureEndsTheFrameBeforeAnyPut) {
  control_.FailOn(CallKind::kPut, kCommPort);
  EXPECT_EQ(driver_.ZoomIn(), 0);
  EXPECT_EQ(driver_.zoomMoving, 1);
  EXPECT_THAT(Sent(), IsEmpty());
  // OpenPort's own line for each of the three frames, none of Write's own.
  EXPECT_EQ(LogLines(), Lines(3, kNoPortLine));
  control_.ClearFailures();
}

// The stop rule. A motion whose frame never left (its open failed) is
// forgotten by the Stop after it, whatever came of the stop; once the port
// opens the next motion goes out.
TEST_F(CanonDriverTest, AMotionThatNeverLeftIsForgottenByStop) {
  CanonVcController fresh;  // no port selected
  ASSERT_NE(fresh.Init(Parent(), 0), 0);
  control_.ClearCalls();
  // The recording control takes any number; the real one refuses -1.
  control_.FailOn(CallKind::kPut, kCommPort, 0, -1, comm_error::kInvalidPortNumber);
  EXPECT_EQ(fresh.ZoomOut(), 0);  // Command(6)
  fresh.Stop();                   // Command(0)
  EXPECT_EQ(fresh.zoomMoving, 0);
  EXPECT_EQ(LogLines(), Lines(5, "Open port exception,port = -1,BaudRate = 9600.\n"));
  EXPECT_THAT(Sent(), IsEmpty());

  control_.ClearFailures();
  ASSERT_EQ(fresh.SetComPort(0), 1);
  EXPECT_EQ(fresh.ZoomIn(), 1);  // the next Command(5) goes out
  EXPECT_EQ(Sent(), Started("ZoomIn"));
  fresh.Close();
}

// The motion frame went out; its stop could not be sent (the open failed,
// the put raised, or the close raised kTransmitFailed): the group stays
// moving, without a log line of this driver, and the next Stop sends the
// stop again. A failed read of the camera's answer does not count.
TEST_F(CanonDriverTest, AStopThatCouldNotBeSentIsSentByTheNextStop) {
  struct Row {
    const char* name;
    CallKind kind;
    vorne::DISPID id;
    int skip;  // matching calls of the motion's three cycles
    bool staysMoving;
    Lines lines;
  };
  const Row rows[] = {
      {"the stop's open fails", CallKind::kPut, kCommPort, 3, true, {kNoPortLine}},
      {"the stop's put raises", CallKind::kPut, kOutput, 3, true, {}},
      // Each cycle puts the open state twice: open, close.
      {"the stop's close raises", CallKind::kPut, kPortOpen, 7, true, {}},
      {"the stop's read fails", CallKind::kGet, kInput, 3, false, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CanonVcController canon;
    ASSERT_NE(canon.Init(Parent(), 0), 0);
    ASSERT_EQ(canon.SetComPort(0), 1);
    control_.ClearCalls();
    control_.ClearFailures();
    host_.ClearLines();
    control_.FailOn(row.kind, row.id, row.skip, 1, comm_error::kTransmitFailed,
                    "Error writing to the port");

    EXPECT_EQ(canon.TiltUp(), 1);
    canon.Stop();
    EXPECT_EQ(canon.panTiltMoving, row.staysMoving ? 1 : 0);
    EXPECT_EQ(LogLines(), row.lines);
    // The finishing frame goes out every time.
    EXPECT_EQ(Sent().back(), kFinish);

    control_.ClearCalls();
    if (row.staysMoving) {
      EXPECT_EQ(canon.TiltDown(), 0);  // still refused, nothing sent
      EXPECT_THAT(control_.Calls(), IsEmpty());
      canon.Stop();
      EXPECT_EQ(Sent(), (Frames{kPanTiltStop, kFinish}));  // the stop again
    } else {
      canon.Stop();
      EXPECT_EQ(Sent(), Frames{kFinish});
    }
    EXPECT_EQ(canon.panTiltMoving, 0);
    EXPECT_EQ(LogLines(), row.lines);
    canon.Close();
  }
}

// The real control with no port selected.
class CanonNoPortTest : public vorne_test::InProcessTest {};

TEST_F(CanonNoPortTest, EveryFrameEndsAtTheOpenWithItsLogLine) {
  AfxEnableControlContainer();
  AttachLog();
  CanonVcController canon;
  ASSERT_NE(canon.Init(Parent(), 0), 0);
  const std::string line = "Open port exception,port = -1,BaudRate = 9600.\n";

  EXPECT_EQ(canon.PanLeft(), 0);
  EXPECT_EQ(canon.panTiltMoving, 1);
  EXPECT_EQ(LogLines(), Lines(3, line));
  EXPECT_EQ(canon.TiltUp(), 0);  // refused: no further try
  EXPECT_EQ(LogLines().size(), 3u);

  canon.Stop();  // tries the pan/tilt stop and the finishing frame
  EXPECT_EQ(LogLines(), Lines(5, line));
  // The motion never left, so the group is idle again.
  EXPECT_EQ(canon.panTiltMoving, 0);
  EXPECT_EQ(canon.zoomMoving, 0);
  EXPECT_EQ(canon.TiltUp(), 0);  // tried again: three frames
  EXPECT_EQ(LogLines(), Lines(8, line));
  canon.Close();
}

// The host's view: the loaded module writing to a pseudo-terminal as port 4.
class CanonModuleTest : public ModuleOnPtyTest {
 protected:
  CanonModuleTest() : ModuleOnPtyTest(4) {}

  void SetUp() override {
    ModuleOnPtyTest::SetUp();
    camera_ = NewCamera();
    ASSERT_NE(camera_, nullptr);
    ASSERT_EQ(camera_->CreateController(PTZ_TYPE_VC_C50I, reinterpret_cast<HWND>(0xCA41), 0), S_OK);
    ASSERT_EQ(camera_->SetComPort(HostPort()), S_OK);
    TakeCycles();
  }

  // What the camera end received, and the port's opens and closes, after
  // `command`.
  void Expect(const std::function<HRESULT()>& command, const Frames& frames) {
    EXPECT_EQ(command(), S_OK);
    Bytes wanted;
    for (const Bytes& frame : frames) wanted.insert(wanted.end(), frame.begin(), frame.end());
    const Bytes got = wanted.empty() ? RestOfTheLine() : OnTheLine(wanted.size());
    EXPECT_EQ(Hex(got), Hex(wanted));
    const int cycles = static_cast<int>(frames.size());
    EXPECT_EQ(TakeCycles(), (PortCycles{cycles, cycles}));
  }

  IPtzControl* camera_ = nullptr;
};

TEST_F(CanonModuleTest, MotionsAndStopsOnTheWire) {
  auto command = [this](std::int32_t n) { return [this, n] { return camera_->Command(n); }; };
  Expect(command(PTZ_PAN_LEFT), Started("PanLeft"));
  Expect(command(PTZ_PAN_RIGHT), {});  // refused
  Expect(command(PTZ_ZOOM_IN), Started("ZoomIn"));
  Expect(command(PTZ_STOP), {kPanTiltStop, kZoomStop, kFinish});
  Expect(command(PTZ_STOP), {kFinish});
  Expect(command(PTZ_TILT_UP), Started("TiltUp"));
  // Destroying stops the tilt and finishes.
  Expect([this] { return camera_->DestroyController(); }, {kPanTiltStop, kFinish});
}

TEST_F(CanonModuleTest, DestroyOfAControllerThatNeverMovedSendsTheFinishingFrame) {
  Expect([this] { return camera_->DestroyController(); }, {kFinish});
}

TEST_F(CanonModuleTest, CameraAnswersAreReadAndDropped) {
  // The module has had the line once and left it raw; a line still cooked
  // as it starts would echo the camera's bytes back to it.
  Expect([this] { return camera_->Command(PTZ_STOP); }, {kFinish});
  // The camera has something to say before the command.
  ASSERT_TRUE(pty_.WriteMaster({0xFE, 0x30, 0x30, 0x00, 0x53, 0x00, 0xEF}));
  int waiting = 0;
  for (int i = 0; i < 500 && waiting < 7; ++i) {
    ::ioctl(pty_.SlaveFd(), FIONREAD, &waiting);
    if (waiting < 7) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(waiting, 7);
  Expect([this] { return camera_->Command(PTZ_ZOOM_OUT); }, Started("ZoomOut"));
  ASSERT_EQ(::ioctl(pty_.SlaveFd(), FIONREAD, &waiting), 0);
  EXPECT_EQ(waiting, 0);
}

}  // namespace

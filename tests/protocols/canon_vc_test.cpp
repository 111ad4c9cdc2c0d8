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
#include "platform/app.h"
#include "platform/comm_control.h"
#include "port_watch.h"
#include "support/module_fixture.h"
#include "support/pty_pair.h"
#include "support/recording_control.h"

namespace {

using namespace comm_property;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using vorne_test::Bytes;
using vorne_test::CallKind;
using vorne_test::Hex;
using vorne_test::PortCycles;
using vorne_test::PortWatch;
using vorne_test::PropertyCall;
using vorne_test::PtyPair;
using vorne_test::RecordingControl;
using Frames = std::vector<Bytes>;
using Lines = std::vector<std::string>;

const Bytes kPrepareFirst = {0xFF, 0x30, 0x30, 0x00, 0x90, 0x30, 0xEF};
const Bytes kPrepareSecond = {0xFF, 0x30, 0x30, 0x00, 0xA0, 0x31, 0xEF};
const Bytes kFinish = {0xFF, 0x30, 0x30, 0x00, 0x90, 0x31, 0xEF};
const Bytes kPanTiltStop = {0xFF, 0x30, 0x30, 0x00, 0x53, 0x30, 0xEF};
const Bytes kZoomStop = {0xFF, 0x30, 0x30, 0x00, 0xA2, 0x30, 0xEF};

struct Motion {
  const char* name;
  std::int32_t command;  // IPtzControl::Command
  int (CanonVcController::*call)();
  Bytes frame;
  bool zoom;
};

const Motion kMotions[] = {
    {"PanLeft",
     PTZ_PAN_LEFT,
     &CanonVcController::PanLeft,
     {0xFF, 0x30, 0x30, 0x00, 0x53, 0x32, 0xEF},
     false},
    {"PanRight",
     PTZ_PAN_RIGHT,
     &CanonVcController::PanRight,
     {0xFF, 0x30, 0x30, 0x00, 0x53, 0x31, 0xEF},
     false},
    {"TiltUp",
     PTZ_TILT_UP,
     &CanonVcController::TiltUp,
     {0xFF, 0x30, 0x30, 0x00, 0x53, 0x33, 0xEF},
     false},
    {"TiltDown",
     PTZ_TILT_DOWN,
     &CanonVcController::TiltDown,
     {0xFF, 0x30, 0x30, 0x00, 0x53, 0x34, 0xEF},
     false},
    {"ZoomIn",
     PTZ_ZOOM_IN,
     &CanonVcController::ZoomIn,
     {0xFF, 0x30, 0x30, 0x00, 0xA2, 0x32, 0xEF},
     true},
    {"ZoomOut",
     PTZ_ZOOM_OUT,
     &CanonVcController::ZoomOut,
     {0xFF, 0x30, 0x30, 0x00, 0xA2, 0x31, 0xEF},
     true},
};

const Motion& Find(const char* name) {
  for (const Motion& motion : kMotions) {
    if (std::string(motion.name) == name) return motion;
  }
  ADD_FAILURE() << "no motion " << name;
  return kMotions[0];
}

Bytes Joined(const Frames& frames) {
  Bytes all;
  for (const Bytes& frame : frames) all.insert(all.end(), frame.begin(), frame.end());
  return all;
}

CWnd* Parent() { return CWnd::FromHandle(reinterpret_cast<HWND>(0xCA40)); }

// One frame's cycle on port 1, from a closed port: open, put, read the
// received data once, close.
Lines Cycle(const Bytes& frame) {
  return {"get 20",
          "put 4 = 1",
          "put 11 = 1024",
          "put 17 = 512",
          "get 20",
          "put 20 = true",
          "put 29 = 1",
          "put 23 = \"9600,n,8,1\"",
          "put 21 = 1",
          "put 14 = 0",
          "put 25 = [" + Hex(frame) + "]",
          "get 26",
          "get 20",
          "put 20 = false"};
}

// A driver on port 1 whose port is a recording control.
class CanonDriverTest : public vorne_test::InProcessTest {
 protected:
  void SetUp() override {
    InProcessTest::SetUp();
    AttachLog();
    ASSERT_NE(canon_.Init(Parent(), 0), 0);
    ASSERT_EQ(canon_.SetComPort(0), 1);
    control_.ClearCalls();
    host_.ClearLines();
  }

  // The frames put to the port so far.
  Frames Sent() const {
    Frames sent;
    for (const PropertyCall& call : control_.RawCalls()) {
      if (call.kind == CallKind::kPut && call.id == kOutput) sent.push_back(call.value.bytes);
    }
    return sent;
  }

  RecordingControl control_;  // outlives the driver and its control
  CanonVcController canon_;
};

TEST_F(CanonDriverTest, PanLeftFromIdleIsThreeFramesInThreeCycles) {
  EXPECT_EQ(canon_.PanLeft(), 1);
  Lines expected = Cycle(kPrepareFirst);
  for (const Bytes& frame : {kPrepareSecond, Find("PanLeft").frame}) {
    const Lines cycle = Cycle(frame);
    expected.insert(expected.end(), cycle.begin(), cycle.end());
  }
  EXPECT_EQ(control_.Calls(), expected);
  EXPECT_THAT(LogLines(), IsEmpty());
}

TEST_F(CanonDriverTest, EachMotionIsPreparedAndItsGroupStopped) {
  for (const Motion& motion : kMotions) {
    SCOPED_TRACE(motion.name);
    control_.ClearCalls();
    EXPECT_EQ(canon_.SetAddressCode(9), 1);  // no address in this protocol
    EXPECT_EQ((canon_.*motion.call)(), 1);
    canon_.Stop();
    EXPECT_EQ(Sent(), (Frames{kPrepareFirst, kPrepareSecond, motion.frame,
                              motion.zoom ? kZoomStop : kPanTiltStop, kFinish}));
  }
  // The stored frame slots are never used.
  EXPECT_EQ(canon_.panLeftFrame.length, 0);
  EXPECT_EQ(canon_.zoomStopFrame.length, 0);
}

TEST_F(CanonDriverTest, SecondMotionOfAMovingGroupSendsNothingAtAll) {
  ASSERT_EQ(canon_.PanLeft(), 1);
  ASSERT_EQ(canon_.ZoomOut(), 1);
  control_.ClearCalls();
  for (const Motion& motion : kMotions) {
    EXPECT_EQ((canon_.*motion.call)(), 0) << motion.name;
  }
  // Not even the preparation frames, nor an open of the port.
  EXPECT_THAT(control_.Calls(), IsEmpty());
}

TEST_F(CanonDriverTest, ZoomDuringAPanIsPreparedAgain) {
  ASSERT_EQ(canon_.TiltUp(), 1);
  control_.ClearCalls();
  EXPECT_EQ(canon_.ZoomIn(), 1);
  EXPECT_EQ(Sent(), (Frames{kPrepareFirst, kPrepareSecond, Find("ZoomIn").frame}));
}

TEST_F(CanonDriverTest, StopSendsEachMovingGroupsStopThenTheFinishingFrame) {
  struct Row {
    const char* name;
    std::vector<const char*> moving;
    Frames sent;
  };
  const Row rows[] = {
      {"nothing moving", {}, {kFinish}},
      {"pan", {"PanRight"}, {kPanTiltStop, kFinish}},
      {"zoom", {"ZoomIn"}, {kZoomStop, kFinish}},
      {"zoom started first, then tilt",
       {"ZoomOut", "TiltDown"},
       {kPanTiltStop, kZoomStop, kFinish}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (const char* name : row.moving) (canon_.*Find(name).call)();
    control_.ClearCalls();
    canon_.Stop();
    EXPECT_EQ(Sent(), row.sent);
    EXPECT_EQ(canon_.panTiltMoving, 0);
    EXPECT_EQ(canon_.zoomMoving, 0);
  }
  // Both groups are free again.
  control_.ClearCalls();
  EXPECT_EQ(canon_.PanLeft(), 1);
  EXPECT_EQ(canon_.ZoomIn(), 1);
  EXPECT_EQ(Sent().size(), 6u);
}

TEST_F(CanonDriverTest, DestroyThroughTheFactorySendsTheFinishingFrame) {
  struct Row {
    const char* name;
    std::vector<const char*> moving;
    Frames sent;
  };
  const Row rows[] = {
      {"never moved", {}, {kFinish}},
      {"pan and zoom running", {"PanLeft", "ZoomOut"}, {kPanTiltStop, kZoomStop, kFinish}},
  };
  for (const Row& row : rows) {
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
  EXPECT_EQ(canon_.TiltDown(), 1);
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
    DISPID id;
    Lines cycle;  // the calls of the failing cycle
  };
  const Bytes& first = kPrepareFirst;
  Lines putFails = Cycle(first);
  putFails.erase(putFails.end() - 3);  // no read after a failed put
  const Row rows[] = {
      {"put of the frame", CallKind::kPut, kOutput, putFails},
      {"read of the received data", CallKind::kGet, kInput, Cycle(first)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    canon_.Stop();
    control_.ClearCalls();
    control_.ClearFailures();
    control_.FailOn(row.kind, row.id, 0, 1, comm_error::kTransmitFailed, "Error writing");
    EXPECT_EQ(canon_.PanRight(), 1);
    const Lines calls = control_.Calls();
    ASSERT_GE(calls.size(), row.cycle.size());
    EXPECT_EQ(Lines(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(row.cycle.size())),
              row.cycle);
    // The later frames go out as usual.
    EXPECT_EQ(Sent(), (Frames{kPrepareFirst, kPrepareSecond, Find("PanRight").frame}));
  }
  EXPECT_THAT(LogLines(), IsEmpty());
}

TEST_F(CanonDriverTest, OpenFailureEndsTheFrameBeforeAnyPut) {
  control_.FailOn(CallKind::kPut, kCommPort);
  EXPECT_EQ(canon_.ZoomIn(), 0);
  EXPECT_EQ(canon_.zoomMoving, 1);
  EXPECT_THAT(Sent(), IsEmpty());
  // OpenPort's own line for each of the three frames, none of Write's own.
  EXPECT_THAT(LogLines(), ElementsAre("Open port exception,port = 1,BaudRate = 9600.\n",
                                      "Open port exception,port = 1,BaudRate = 9600.\n",
                                      "Open port exception,port = 1,BaudRate = 9600.\n"));
  control_.ClearFailures();
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
  EXPECT_EQ(canon.panTiltMoving, 0);
  EXPECT_EQ(canon.zoomMoving, 0);
  canon.Close();
}

// The host's view: the loaded module writing to a pseudo-terminal as port 4.
class CanonModuleTest : public vorne_test::LoadedModuleTest {
 protected:
  void SetUp() override {
    LoadedModuleTest::SetUp();
    ASSERT_TRUE(pty_.Ok()) << pty_.Error();
    ASSERT_TRUE(watch_.ok());
    camera_ = NewCamera();
    ASSERT_NE(camera_, nullptr);
    ASSERT_EQ(camera_->CreateController(PTZ_TYPE_VC_C50I, reinterpret_cast<HWND>(0xCA41), 0), S_OK);
    ASSERT_EQ(camera_->SetComPort(3), S_OK);
    watch_.Take();
  }

  // What the camera end received, and the port's opens and closes, after
  // `command`.
  void Expect(const std::function<HRESULT()>& command, const Frames& frames) {
    EXPECT_EQ(command(), S_OK);
    const Bytes wanted = Joined(frames);
    const Bytes got = wanted.empty() ? pty_.ReadAvailable() : pty_.ReadMaster(wanted.size());
    EXPECT_EQ(Hex(got), Hex(wanted));
    const int cycles = static_cast<int>(frames.size());
    EXPECT_EQ(watch_.Take(), (PortCycles{cycles, cycles}));
  }

  PtyPair pty_;
  vorne_test::ScopedComPort com_{4, pty_.SlavePath()};
  PortWatch watch_{pty_.SlavePath()};
  IPtzControl* camera_ = nullptr;
};

TEST_F(CanonModuleTest, MotionsAndStopsOnTheWire) {
  auto command = [this](std::int32_t n) { return [this, n] { return camera_->Command(n); }; };
  Expect(command(PTZ_PAN_LEFT), {kPrepareFirst, kPrepareSecond, Find("PanLeft").frame});
  Expect(command(PTZ_PAN_RIGHT), {});  // refused
  Expect(command(PTZ_ZOOM_IN), {kPrepareFirst, kPrepareSecond, Find("ZoomIn").frame});
  Expect(command(PTZ_STOP), {kPanTiltStop, kZoomStop, kFinish});
  Expect(command(PTZ_STOP), {kFinish});
  Expect(command(PTZ_TILT_UP), {kPrepareFirst, kPrepareSecond, Find("TiltUp").frame});
  // Destroying stops the tilt and finishes.
  Expect([this] { return camera_->DestroyController(); }, {kPanTiltStop, kFinish});
}

TEST_F(CanonModuleTest, DestroyOfAControllerThatNeverMovedSendsTheFinishingFrame) {
  Expect([this] { return camera_->DestroyController(); }, {kFinish});
}

TEST_F(CanonModuleTest, CameraAnswersAreReadAndDropped) {
  // The camera has something to say before the command.
  ASSERT_TRUE(pty_.WriteMaster({0xFE, 0x30, 0x30, 0x00, 0x53, 0x00, 0xEF}));
  int waiting = 0;
  for (int i = 0; i < 500 && waiting < 7; ++i) {
    ::ioctl(pty_.SlaveFd(), FIONREAD, &waiting);
    if (waiting < 7) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(waiting, 7);
  Expect([this] { return camera_->Command(PTZ_ZOOM_OUT); },
         {kPrepareFirst, kPrepareSecond, Find("ZoomOut").frame});
  ASSERT_EQ(::ioctl(pty_.SlaveFd(), FIONREAD, &waiting), 0);
  EXPECT_EQ(waiting, 0);
}

}  // namespace

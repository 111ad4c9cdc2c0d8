// The TAC driver: its seven messages byte for byte, how it judges the
// camera's answers, the zoom rule, and the bounded reply wait; against a
// recording control, against a camera on a pseudo-terminal, and through the
// loaded module.
#include "protocols/tac.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "controller/factory.h"
#include "platform/clock.h"
#include "recorded_port.h"
#include "support/golden_frames.h"
#include "support/module_on_pty.h"
#include "tac_peer.h"

using namespace vorne;

namespace {

using namespace comm_property;
using namespace vorne_test;
using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A failing exchange waits out the reply time; bounds wide enough for a
// loaded machine.
constexpr milliseconds kWaitAtLeast{150};
constexpr milliseconds kWaitAtMost{2000};
// An exchange answered at once, or one that never opens the port, does not
// hang; the bound stays generous because a loaded machine stretches even a
// quick exchange past the 200 ms reply time now and then.
constexpr milliseconds kAnsweredWithin{1000};

struct Command {
  const char* name;
  int (TacController::*move)();  // null for Stop, which has no result
  Bytes wire;
};

const Command kCommands[] = {
    {"PanLeft", &TacController::PanLeft, kTacFrames[kPanLeft]},
    {"PanRight", &TacController::PanRight, kTacFrames[kPanRight]},
    {"TiltUp", &TacController::TiltUp, kTacFrames[kTiltUp]},
    {"TiltDown", &TacController::TiltDown, kTacFrames[kTiltDown]},
    {"ZoomIn", &TacController::ZoomIn, kTacFrames[kZoomIn]},
    {"ZoomOut", &TacController::ZoomOut, kTacFrames[kZoomOut]},
    {"Stop", nullptr, kTacFrames[kPanTiltStop]},
};

const Bytes& Wire(const char* name) {
  for (const Command& command : kCommands) {
    if (std::string(command.name) == name) return command.wire;
  }
  ADD_FAILURE() << "no command " << name;
  static const Bytes none;
  return none;
}

std::vector<Bytes> Wires(std::initializer_list<const char*> names) {
  std::vector<Bytes> wires;
  for (const char* name : names) wires.push_back(Wire(name));
  return wires;
}

Bytes Reply(const TacController& c) { return Bytes(c.reply, c.reply + sizeof(c.reply)); }

// The good reply with the letter among its checksum digits in lowercase.
Bytes LowercaseReply() {
  Bytes reply = TacGoodReply();
  for (std::size_t i = 9; i < 11; ++i) {
    if (reply[i] >= 'A' && reply[i] <= 'F') reply[i] = static_cast<std::uint8_t>(reply[i] + 0x20);
  }
  return reply;
}

class TacDriverTest : public RecordedPortTest<TacController> {
 protected:
  void TearDown() override {
    // The destructor's stop should not wait out a silent camera.
    AnswerEveryMessage(TacGoodReply());
    RecordedPortTest::TearDown();
  }

  // The camera answers each message put to the port with `reply`.
  void AnswerEveryMessage(Bytes reply) {
    control_.OnCall([this, reply](const PropertyCall& call) {
      if (call.kind == CallKind::kPut && call.id == kOutput) control_.QueueInput(reply);
    });
  }
};

TEST_F(TacDriverTest, EachCommandIsOneOpenPutReadCloseWhateverTheAddressCode) {
  AnswerEveryMessage(TacGoodReply());
  for (const Command& command : kCommands) {
    SCOPED_TRACE(command.name);
    control_.ClearCalls();
    EXPECT_EQ(driver_.SetAddressCode(37), 1);
    if (command.move == nullptr) {
      driver_.Stop();
    } else {
      EXPECT_EQ((driver_.*command.move)(), 1);
    }
    EXPECT_EQ(control_.Calls(), Exchange(command.wire, {"get 12", "get 26"}));
    EXPECT_EQ(Reply(driver_), TacGoodReply());
    driver_.Stop();  // lets the next zoom through
  }
  EXPECT_THAT(LogLines(), IsEmpty());
}

// A good reply with one body byte changed after the checksum was made.
Bytes WrongReply() {
  Bytes reply = TacGoodReply();
  reply[8] = '1';
  return reply;
}

Bytes TenOf(const Bytes& reply) { return Bytes(reply.begin(), reply.begin() + 10); }

// A short reply as the driver keeps it: zeros after the bytes that came.
Bytes Padded(Bytes reply) {
  reply.resize(11, 0);
  return reply;
}

const Bytes kTwelve = {'x', 'y', 'z', 0x00, 0xFF, '1', '2', '3', '4', '5', '6', '7'};

TEST_F(TacDriverTest, VerifyReplyComparesBothDigitsExactly) {
  struct Row {
    Bytes reply;
    bool ok;
  };
  ASSERT_NE(LowercaseReply(), TacGoodReply());
  const Row rows[] = {
      {TacGoodReply(), true},
      {TacWithChecksum({0, 0, 0, 0, 0, 0, 0, 0, 0}), true},           // "00"
      {TacWithChecksum({0xFF, 0, 0, 0, 0, 0, 0, 0, 0}), true},        // "FF"
      {TacWithChecksum({0x2A, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}), true},  // wraps past 8 bits
      {LowercaseReply(), false},
      {{0, 0, 0, 0, 0, 0, 0, 0, 0, '0', 0}, false},  // a short reply's zero tail
      {{0, 0, 0, 0, 0, 0, 0, 0, 0, '0', '1'}, false},
      {{0, 0, 0, 0, 0, 0, 0, 0, 0, '1', '0'}, false},
  };
  for (const Row& row : rows) {
    std::copy(row.reply.begin(), row.reply.end(), driver_.reply);
    EXPECT_EQ(driver_.VerifyReply(), row.ok) << Hex(row.reply);
  }
}

TEST_F(TacDriverTest, ControlErrorsWhileWaitingFailTheCommandAndClosePort) {
  struct Row {
    const char* name;
    CallKind kind;
    vorne::DISPID id;
  };
  const Row rows[] = {
      {"put of the message", CallKind::kPut, kOutput},
      {"received count", CallKind::kGet, kInBufferCount},
      {"received data", CallKind::kGet, kInput},
  };
  AnswerEveryMessage(TacGoodReply());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    control_.ClearCalls();
    control_.ClearFailures();
    control_.FailOn(row.kind, row.id, 0, 1, comm_error::kReceiveFailed, "Error reading");
    EXPECT_EQ(driver_.PanRight(), 0);
    EXPECT_EQ(control_.Calls().back(), "put 20 = false");
  }
  EXPECT_THAT(LogLines(), IsEmpty());
}

TEST_F(TacDriverTest, CopiesNoMoreThanTheReceivedDataHolds) {
  // The count is read before the data; a control may hand over fewer bytes
  // than it counted, or none at all.
  const Bytes three = {'*', '0', '0'};
  struct Row {
    const char* name;
    std::int16_t count;
    vorne::VARIANT data;
    int result;
  };
  vorne::VARIANT empty;
  vorne::VARIANT text;
  text.vt = vorne::VT_BSTR;
  text.bstrVal = u"*0075000000";
  const Row rows[] = {
      {"eleven counted, three held", 11, ByteVariant(three), 0},
      {"eleven counted, nothing held", 11, empty, 0},
      {"eleven counted, text held", 11, text, 0},
      {"forty counted, three held", 40, ByteVariant(three), 1},
      {"count beyond 16 bits", -1, ByteVariant(three), 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    control_.Answer(kInBufferCount, ShortVariant(row.count));
    control_.Answer(kInput, row.data);
    EXPECT_EQ(driver_.TiltDown(), row.result);
    Bytes kept(11, 0);
    if (row.data.vt == (vorne::VT_ARRAY | vorne::VT_UI1))
      std::copy(three.begin(), three.end(), kept.begin());
    EXPECT_EQ(Hex(Reply(driver_)), Hex(kept));
  }
}

TEST_F(TacDriverTest, OpenFailureSkipsClosePort) {
  control_.FailOn(CallKind::kPut, kCommPort);
  EXPECT_EQ(driver_.ZoomIn(), 0);
  EXPECT_THAT(control_.Calls(), ElementsAre("get 20", "put 4 = 1"));
  EXPECT_EQ(LogLines(), Lines{"Open port exception,port = 1,BaudRate = 9600.\n"});
  control_.ClearFailures();
}

TEST_F(TacDriverTest, ZoomRuleOneZoomUntilStop) {
  AnswerEveryMessage(TacGoodReply());
  EXPECT_EQ(driver_.ZoomIn(), 1);
  EXPECT_EQ(driver_.ZoomIn(), 1);   // already zooming: nothing sent
  EXPECT_EQ(driver_.ZoomOut(), 1);  // the one flag serves both directions
  EXPECT_EQ(driver_.PanLeft(), 1);  // pan and tilt keep no state
  EXPECT_EQ(driver_.PanLeft(), 1);
  driver_.Stop();
  EXPECT_EQ(driver_.ZoomOut(), 1);
  EXPECT_EQ(Sent(), Wires({"ZoomIn", "PanLeft", "PanLeft", "Stop", "ZoomOut"}));
}

TEST_F(TacDriverTest, FailedZoomStillBlocksTheNextZoomUntilStop) {
  AnswerEveryMessage(TacGoodReply());
  control_.FailOn(CallKind::kPut, kOutput, 0, 1, comm_error::kTransmitFailed, "Error writing");
  EXPECT_EQ(driver_.ZoomIn(), 0);
  EXPECT_EQ(driver_.zoomMoving, 1);
  EXPECT_EQ(driver_.ZoomOut(), 1);
  driver_.Stop();  // sent even though the camera may never have zoomed
  EXPECT_EQ(driver_.zoomMoving, 0);
  EXPECT_EQ(driver_.ZoomOut(), 1);
  // The failed put was recorded too; it is the first.
  EXPECT_EQ(Sent(), Wires({"ZoomIn", "Stop", "ZoomOut"}));
}

// The stop rule for the zoom. A zoom whose exchange never got the port open
// is forgotten by the Stop after it, whatever came of the stop's exchange;
// once the port opens the next zoom goes out.
TEST_F(TacDriverTest, AZoomThatNeverLeftIsForgottenByStop) {
  AnswerEveryMessage(TacGoodReply());
  TacController fresh;  // no port selected
  ASSERT_NE(fresh.Init(Parent(), 0), 0);
  // The recording control takes any number; the real one refuses -1.
  control_.FailOn(CallKind::kPut, kCommPort, 0, -1, comm_error::kInvalidPortNumber);
  EXPECT_EQ(fresh.ZoomIn(), 0);  // Command(5)
  fresh.Stop();                  // Command(0)
  EXPECT_EQ(fresh.zoomMoving, 0);
  EXPECT_EQ(LogLines(), Lines(2, "Open port exception,port = -1,BaudRate = 9600.\n"));
  EXPECT_THAT(Sent(), IsEmpty());

  control_.ClearFailures();
  ASSERT_EQ(fresh.SetComPort(0), 1);
  EXPECT_EQ(fresh.ZoomIn(), 1);  // the next Command(5) goes out
  EXPECT_EQ(Sent(), Wires({"ZoomIn"}));
  fresh.Close();
}

// The zoom's exchange got the port open. A stop whose exchange could not be
// sent (the open failed, the put failed, the close raised kTransmitFailed)
// keeps the zoom marked, so the next Stop ends it; a stop that went out but
// got no answer or a wrong one counts as sent.
TEST_F(TacDriverTest, AStopThatCouldNotBeSentIsSentByTheNextStop) {
  struct Row {
    const char* name;
    CallKind kind;
    vorne::DISPID id;
    int skip;          // matching calls of the zoom's exchange
    Bytes stopAnswer;  // the camera's answer to the stop
    bool staysZooming;
    Lines lines;
  };
  const Bytes good = TacGoodReply();
  const Row rows[] = {
      {"the stop's open fails",
       CallKind::kPut,
       kCommPort,
       1,
       good,
       true,
       {"Open port exception,port = 1,BaudRate = 9600.\n"}},
      {"the stop's put fails", CallKind::kPut, kOutput, 1, good, true, {}},
      // The exchange puts the open state twice: open, close.
      {"the stop's close raises", CallKind::kPut, kPortOpen, 3, good, true, {}},
      {"no answer to the stop", CallKind::kPut, kOutput, 99, {}, false, {}},
      {"a wrong answer to the stop", CallKind::kPut, kOutput, 99, WrongReply(), false, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TacController tac;
    ASSERT_NE(tac.Init(Parent(), 0), 0);
    ASSERT_EQ(tac.SetComPort(0), 1);
    // The camera answers the zoom well and the stop as the row says.
    control_.OnCall([this, good, answer = row.stopAnswer](const PropertyCall& call) {
      if (call.kind != CallKind::kPut || call.id != kOutput) return;
      control_.QueueInput(call.value.bytes == Wire("Stop") ? answer : good);
    });
    control_.ClearCalls();
    control_.ClearFailures();
    host_.ClearLines();
    control_.FailOn(row.kind, row.id, row.skip, 1, comm_error::kTransmitFailed,
                    "Error writing to the port");

    EXPECT_EQ(tac.ZoomOut(), 1);
    tac.Stop();
    EXPECT_EQ(tac.zoomMoving, row.staysZooming ? 1 : 0);
    EXPECT_EQ(LogLines(), row.lines);

    AnswerEveryMessage(good);
    control_.ClearCalls();
    if (row.staysZooming) {
      EXPECT_EQ(tac.ZoomIn(), 1);  // still zooming: nothing sent
      EXPECT_THAT(control_.Calls(), IsEmpty());
      tac.Stop();
      EXPECT_EQ(tac.zoomMoving, 0);
      control_.ClearCalls();
    }
    EXPECT_EQ(tac.ZoomIn(), 1);  // free again: the zoom goes out
    EXPECT_EQ(Sent(), Wires({"ZoomIn"}));
    tac.Stop();
    EXPECT_EQ(LogLines(), row.lines);
    tac.Close();
  }
}

TEST_F(TacDriverTest, WaitSurvivesTheTickCountWrapping) {
  // Ticks that pass 0xFFFFFFFF about 50 ms into the wait.
  static std::atomic<std::uint32_t> offset;
  static std::atomic<bool> sawHigh;
  static std::atomic<bool> sawLow;
  offset = 0xFFFFFFFFu - 50u - SystemTickCount();
  sawHigh = false;
  sawLow = false;
  const TickSource previous = SetTickSource([]() -> std::uint32_t {
    const std::uint32_t tick = SystemTickCount() + offset.load();
    (tick >= 0x80000000u ? sawHigh : sawLow) = true;
    return tick;
  });
  int result = -1;
  const milliseconds took = Timed([&] { result = driver_.PanLeft(); });  // silent camera
  SetTickSource(previous);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(sawHigh && sawLow) << "the wait did not run across the wrap";
  EXPECT_GE(took, kWaitAtLeast);
  EXPECT_LT(took, kWaitAtMost);
}

TEST_F(TacDriverTest, DestructorStopsALiveController) {
  AnswerEveryMessage(TacGoodReply());
  {
    TacController other;
    ASSERT_NE(other.Init(Parent(), 0), 0);
    ASSERT_EQ(other.SetComPort(1), 1);
    control_.ClearCalls();
    EXPECT_EQ(other.ZoomIn(), 1);
  }
  EXPECT_EQ(Sent(), Wires({"ZoomIn", "Stop"}));
}

TEST_F(TacDriverTest, DestroyThroughTheFactoryStopsOnce) {
  AnswerEveryMessage(TacGoodReply());
  PtzController* made = CreatePtzController(PTZ_TYPE_TAC, Parent(), 0);
  ASSERT_NE(made, nullptr);
  ASSERT_NE(dynamic_cast<TacController*>(made), nullptr);
  made->SetComPort(2);
  control_.ClearCalls();
  // Close stops; the destructor's stop then finds no port control.
  DestroyPtzController(made);
  EXPECT_EQ(Sent(), Wires({"Stop"}));
}

// A camera on the master end of a pseudo-terminal, the real control on the
// slave end as port 3.
class TacPtyTest : public InProcessTest {
 protected:
  void SetUp() override {
    InProcessTest::SetUp();
    ASSERT_TRUE(pty_.Ok()) << pty_.Error();
    AfxEnableControlContainer();
    tac_ = std::make_unique<TacController>();
    ASSERT_NE(tac_->Init(Parent(), 0), 0);
    ASSERT_EQ(tac_->SetComPort(2), 1);
  }

  void TearDown() override {
    // Close stops through a camera that answers, so teardown is quick.
    TacPeer peer(pty_, [](const Bytes&) { return TacGoodReply(); });
    DestroyPtzController(tac_.release());
    InProcessTest::TearDown();
  }

  PtyPair pty_;
  ScopedComPort com_{3, pty_.SlavePath()};
  std::unique_ptr<TacController> tac_;
};

struct PtyCase {
  const char* name;
  TacPeer::Answer answer;
  int result;
  Bytes reply;  // what the driver keeps of the answer
  bool waitsOut;
};

// Writes `bytes` in two pieces with a pause between them.
TacPeer::Answer InPieces(PtyPair* pty, Bytes bytes, std::size_t first) {
  return [pty, bytes, first](const Bytes&) {
    pty->WriteMaster(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(first)));
    std::this_thread::sleep_for(milliseconds(20));
    pty->WriteMaster(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(first), bytes.end()));
    return Bytes{};
  };
}

TacPeer::Answer Always(Bytes answer) {
  return [answer](const Bytes&) { return answer; };
}

TEST_F(TacPtyTest, AnswersOverTheLine) {
  const Bytes good = TacGoodReply();
  const PtyCase cases[] = {
      {"right checksum", Always(good), 1, good, false},
      {"right checksum in two pieces", InPieces(&pty_, good, 6), 1, good, false},
      {"lowercase checksum digit", Always(LowercaseReply()), 0, LowercaseReply(), false},
      {"wrong checksum", Always(WrongReply()), 0, WrongReply(), false},
      {"twelve bytes, unverified", Always(kTwelve), 1, Bytes(kTwelve.begin(), kTwelve.end() - 1),
       false},
      {"thirty bytes, unverified", Always(Bytes(30, 'Z')), 1, Bytes(11, 'Z'), false},
      {"ten bytes", Always(TenOf(good)), 0, Padded(TenOf(good)), true},
      {"one byte", Always({'*'}), 0, Padded({'*'}), true},
      {"nothing", Always({}), 0, Bytes(11, 0), true},
  };
  for (const PtyCase& c : cases) {
    SCOPED_TRACE(c.name);
    TacPeer peer(pty_, c.answer);
    int result = -1;
    const milliseconds took = Timed([&] { result = tac_->PanLeft(); });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(Hex(Reply(*tac_)), Hex(c.reply));
    if (c.waitsOut) {
      EXPECT_GE(took, kWaitAtLeast);
      EXPECT_LT(took, kWaitAtMost);
    } else {
      EXPECT_LT(took, kAnsweredWithin);
    }
    EXPECT_TRUE(peer.WaitForRequests(1));
    EXPECT_THAT(peer.Requests(), ElementsAre(Wire("PanLeft")));
  }
}

TEST_F(TacPtyTest, AnAnswerLeftOnTheLineDoesNotAnswerTheNextRequest) {
  ASSERT_TRUE(pty_.WriteMaster(TacGoodReply()));  // came after its own wait had ended
  std::this_thread::sleep_for(milliseconds(20));
  TacPeer peer(pty_, Always({}));
  EXPECT_EQ(tac_->PanLeft(), 0);
}

TEST_F(TacPtyTest, PortNeverSelectedFailsAtOnceWithItsLogLine) {
  AttachLog();
  TacController unset;
  ASSERT_NE(unset.Init(Parent(), 0), 0);
  int result = -1;
  const milliseconds took = Timed([&] { result = unset.TiltUp(); });
  EXPECT_EQ(result, 0);
  EXPECT_LT(took, kAnsweredWithin);
  EXPECT_EQ(LogLines(), Lines{"Open port exception,port = -1,BaudRate = 9600.\n"});
  unset.Close();
}

// The host's view: the loaded module against a camera on a pseudo-terminal.
class TacModuleTest : public ModuleOnPtyTest {
 protected:
  TacModuleTest() : ModuleOnPtyTest(2) {}

  // A TAC camera on COM2 whose far end answers as `answer` does.
  IPtzControl* Connect(TacPeer::Answer answer) {
    peer_ = std::make_unique<TacPeer>(pty_, std::move(answer));
    IPtzControl* camera = NewCamera();
    if (camera == nullptr) return nullptr;
    EXPECT_EQ(camera->CreateController(PTZ_TYPE_TAC, reinterpret_cast<HWND>(0x7AC1), 1), S_OK);
    EXPECT_EQ(camera->SetComPort(HostPort()), S_OK);
    return camera;
  }

  std::unique_ptr<TacPeer> peer_;
};

TEST_F(TacModuleTest, CommandsReachTheCameraAndDestroyStopsIt) {
  IPtzControl* camera = Connect(Always(TacGoodReply()));
  ASSERT_NE(camera, nullptr);
  const std::int32_t sequence[] = {PTZ_PAN_LEFT, PTZ_PAN_RIGHT, PTZ_TILT_UP, PTZ_TILT_DOWN,
                                   PTZ_ZOOM_IN,  PTZ_ZOOM_OUT,  PTZ_STOP,    PTZ_ZOOM_OUT};
  for (std::int32_t number : sequence) {
    SCOPED_TRACE(number);
    HRESULT hr = E_FAIL;
    const milliseconds took = Timed([&] { hr = camera->Command(number); });
    EXPECT_EQ(hr, S_OK);
    EXPECT_LT(took, kAnsweredWithin);
  }
  EXPECT_EQ(camera->DestroyController(), S_OK);
  ASSERT_TRUE(peer_->WaitForRequests(8));
  // The zoom out during the zoom in sends nothing; destroying stops once.
  EXPECT_EQ(peer_->Requests(), Wires({"PanLeft", "PanRight", "TiltUp", "TiltDown", "ZoomIn", "Stop",
                                      "ZoomOut", "Stop"}));
}

TEST_F(TacModuleTest, SilentCameraHoldsTheHostOnlyForTheBoundedWait) {
  IPtzControl* camera = Connect(Always({}));
  ASSERT_NE(camera, nullptr);
  HRESULT hr = E_FAIL;
  const milliseconds took = Timed([&] { hr = camera->Command(PTZ_TILT_DOWN); });
  EXPECT_EQ(hr, S_OK);  // the host is not told about a missing answer
  EXPECT_GE(took, kWaitAtLeast);
  EXPECT_LT(took, kWaitAtMost);
  EXPECT_EQ(camera->DestroyController(), S_OK);
  ASSERT_TRUE(peer_->WaitForRequests(2));
  EXPECT_EQ(peer_->Requests(), Wires({"TiltDown", "Stop"}));
}

}  // namespace

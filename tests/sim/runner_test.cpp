// The runner on real pseudo-terminals: a client writes to the slave side as
// the module would, the camera answers on the same line.
#include "sim/runner.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "sim/fd.h"
#include "sim/tac.h"

namespace sim {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

constexpr Duration kPatience = 5s;  // generous: the machine may be loaded

Bytes H(std::string_view hex) { return ParseHex(hex).value_or(Bytes{}); }

Fd OpenClient(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDWR | O_NOCTTY));
  EXPECT_TRUE(fd.valid()) << path << ": " << std::strerror(errno);
  return fd;
}

void WriteAll(int fd, const Bytes& bytes) {
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// Reads until `count` bytes have come or `timeout` has passed.
Bytes ReadFor(int fd, std::size_t count, Duration timeout) {
  Bytes got;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (got.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    std::uint8_t buffer[64];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

// Whether an event of `kind` whose meaning holds `text` is among `events`.
bool Has(const std::vector<Event>& events, Event::Kind kind, std::string_view text = {}) {
  return std::any_of(events.begin(), events.end(), [&](const Event& e) {
    return e.kind == kind && e.meaning.find(text) != std::string::npos;
  });
}

bool WaitForEvent(Runner& runner, Event::Kind kind, std::string_view text = {}) {
  return runner.WaitFor([&](const std::vector<Event>& events) { return Has(events, kind, text); },
                        kPatience);
}

TEST(RunnerTest, DecodesAFrameWrittenToTheSlave) {
  auto runner = Runner::OnPty(Protocol::kPelcoD);
  EXPECT_EQ(runner->EnvironmentLine(2), "VORNE_COM2=" + runner->Path());
  Fd client = OpenClient(runner->Path());
  EXPECT_TRUE(::isatty(client.get()));
  WriteAll(client.get(), H("FF 02 00 04 20 00 26"));
  ASSERT_TRUE(runner->WaitForFrames(1, kPatience));
  const auto frames = runner->Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(Hex(frames[0].bytes), "FF 02 00 04 20 00 26");
  EXPECT_EQ(frames[0].meaning, "pan left, speed 0x20, address 2");
  EXPECT_EQ(frames[0].check.verdict, Check::Verdict::kOk);
  const CameraState state = runner->State();
  EXPECT_EQ(state.pan.direction, -1);
  EXPECT_EQ(state.lastAddress, 2);
}

TEST(RunnerTest, ClientOpeningAndClosingForEachFrameKeepsTheLine) {
  // The module opens and closes the port around every frame.
  auto runner = Runner::OnPty(Protocol::kVideotrec);
  for (const char* frame :
       {"FA 03 00 00 60 00 5D", "FA 01 00 00 00 00 7B", "FA 0C 00 00 60 00 66"}) {
    Fd client = OpenClient(runner->Path());
    WriteAll(client.get(), H(frame));
  }
  ASSERT_TRUE(runner->WaitForFrames(3, kPatience));
  EXPECT_TRUE(runner->Running());
  EXPECT_FALSE(Has(runner->Events(), Event::Kind::kNotice));
  EXPECT_FALSE(Has(runner->Events(), Event::Kind::kGarbage));
  EXPECT_EQ(runner->State().zoom.direction, 1);
}

TEST(RunnerTest, SlaveIsRawBothWays) {
  // Line-ending, interrupt, flow-control and erase bytes must pass as they
  // are, and nothing may echo back to the client.
  auto runner = Runner::OnPty(Protocol::kPelcoD);
  Fd client = OpenClient(runner->Path());
  const Bytes first = H("FF 0A 0D 03 11 13 3E");
  const Bytes second = H("FF 7F 04 1A 00 00 9D");
  Bytes both = first;
  both.insert(both.end(), second.begin(), second.end());
  WriteAll(client.get(), both);
  ASSERT_TRUE(runner->WaitForFrames(2, kPatience));
  const auto frames = runner->Frames();
  EXPECT_EQ(frames[0].bytes, first);
  EXPECT_EQ(frames[1].bytes, second);
  EXPECT_EQ(frames[0].check.verdict, Check::Verdict::kOk);
  EXPECT_EQ(frames[1].check.verdict, Check::Verdict::kOk);
  EXPECT_TRUE(ReadFor(client.get(), 1, 200ms).empty());
}

TEST(RunnerTest, FrameSplitAcrossWritesIsOneFrame) {
  auto runner = Runner::OnPty(Protocol::kPelcoP);
  Fd client = OpenClient(runner->Path());
  WriteAll(client.get(), H("A0 00 00"));
  std::this_thread::sleep_for(20ms);
  WriteAll(client.get(), H("04 10 00 AF 1B"));
  ASSERT_TRUE(runner->WaitForFrames(1, kPatience));
  const auto events = runner->Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(Hex(events[0].bytes), "A0 00 00 04 10 00 AF 1B");
}

TEST(RunnerTest, TruncatedFrameIsReportedOnceTheLineIsQuiet) {
  RunnerOptions options;
  options.quietTime = 50ms;
  auto runner = Runner::OnPty(Protocol::kPelcoD, options);
  Fd client = OpenClient(runner->Path());
  WriteAll(client.get(), H("FF 01 00"));
  ASSERT_TRUE(WaitForEvent(*runner, Event::Kind::kGarbage));
  EXPECT_THAT(runner->Events().at(0).meaning, HasSubstr("truncated frame, 3 of 7 bytes"));
  WriteAll(client.get(), H("FF 01 00 00 00 00 01"));
  ASSERT_TRUE(runner->WaitForFrames(1, kPatience));
  EXPECT_TRUE(runner->Frames().at(0).applied);
}

TEST(RunnerTest, StopReportsWhatIsHeldBack) {
  RunnerOptions options;
  options.quietTime = 1h;
  auto runner = Runner::OnPty(Protocol::kPelcoD, options);
  Fd client = OpenClient(runner->Path());
  WriteAll(client.get(), H("FF 01 00 00 00 00 01 FF 01"));
  ASSERT_TRUE(runner->WaitForFrames(1, kPatience));
  runner->Stop();
  runner->Stop();
  EXPECT_FALSE(runner->Running());
  const auto events = runner->Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].kind, Event::Kind::kGarbage);
  EXPECT_EQ(Hex(events[1].bytes), "FF 01");
}

TEST(RunnerTest, HandlerSeesEveryEventInOrder) {
  std::mutex mutex;
  std::vector<std::string> seen;
  RunnerOptions options;
  options.onEvent = [&](const Event& e) {
    std::lock_guard lock(mutex);
    seen.push_back(Hex(e.bytes));
  };
  auto runner = Runner::OnPty(Protocol::kCanon, options);
  Fd client = OpenClient(runner->Path());
  WriteAll(client.get(), H("FF 30 30 00 90 30 EF 42 FF 30 30 00 A0 31 EF"));
  ASSERT_TRUE(runner->WaitForFrames(2, kPatience));
  runner->Stop();
  std::lock_guard lock(mutex);
  EXPECT_THAT(seen, ::testing::ElementsAre("FF 30 30 00 90 30 EF", "42", "FF 30 30 00 A0 31 EF"));
}

TEST(RunnerTest, WaitForFramesGivesUpAtTheTimeout) {
  auto runner = Runner::OnPty(Protocol::kVisca);
  EXPECT_FALSE(runner->WaitForFrames(1, 50ms));
}

const Bytes kTacZoomIn = H("2A 30 30 37 35 30 32 30 30 42 38");

bool TacChecksumRight(const Bytes& reply) {
  const auto chars = TacChecksumChars(TacSum(reply));
  return reply.size() == kTacMessageSize && reply[9] == chars[0] && reply[10] == chars[1];
}

TEST(RunnerTest, TacReplyComesBackOnTheSlave) {
  auto runner = Runner::OnPty(Protocol::kTac);
  Fd client = OpenClient(runner->Path());
  WriteAll(client.get(), kTacZoomIn);
  const Bytes reply = ReadFor(client.get(), kTacMessageSize, kPatience);
  EXPECT_TRUE(TacChecksumRight(reply)) << Hex(reply);
  ASSERT_TRUE(WaitForEvent(*runner, Event::Kind::kReply));
  EXPECT_EQ(runner->Events().back().meaning, "reply (right)");
}

TEST(RunnerTest, TacReplyModesOnTheWire) {
  auto runner = Runner::OnPty(Protocol::kTac);
  Fd client = OpenClient(runner->Path());

  runner->SetReplyMode(ReplyMode::kWrongChecksum);
  WriteAll(client.get(), kTacZoomIn);
  Bytes reply = ReadFor(client.get(), kTacMessageSize, kPatience);
  EXPECT_EQ(reply.size(), kTacMessageSize);
  EXPECT_FALSE(TacChecksumRight(reply)) << Hex(reply);

  runner->SetReplyMode(ReplyMode::kShort);
  WriteAll(client.get(), kTacZoomIn);
  reply = ReadFor(client.get(), kTacMessageSize, 300ms);
  EXPECT_EQ(reply.size(), 6u) << Hex(reply);

  runner->SetReplyMode(ReplyMode::kSilent);
  WriteAll(client.get(), kTacZoomIn);
  EXPECT_TRUE(ReadFor(client.get(), 1, 300ms).empty());

  runner->SetReplyMode(ReplyMode::kDelayed);
  runner->SetReplyDelay(250ms);
  const auto start = std::chrono::steady_clock::now();
  WriteAll(client.get(), kTacZoomIn);
  reply = ReadFor(client.get(), kTacMessageSize, kPatience);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(TacChecksumRight(reply)) << Hex(reply);
  // Never early: a reply due after the module's 200 ms wait must stay late.
  EXPECT_GE(elapsed, 250ms);
}

// On a real port, bytes that arrive while it is closed are lost; the line
// must not keep them for the next client, which would take a stale reply
// for the answer to its own request.
TEST(RunnerTest, ReplyDueWhileThePortIsClosedIsLost) {
  RunnerOptions options;
  options.replyMode = ReplyMode::kDelayed;
  options.replyDelay = 100ms;
  auto runner = Runner::OnPty(Protocol::kTac, options);
  {
    Fd client = OpenClient(runner->Path());
    WriteAll(client.get(), kTacZoomIn);
    ASSERT_TRUE(runner->WaitForFrames(1, kPatience));
  }
  ASSERT_TRUE(WaitForEvent(*runner, Event::Kind::kNotice, "lost: no client has the port open"));
  Fd client = OpenClient(runner->Path());
  EXPECT_TRUE(ReadFor(client.get(), 1, 200ms).empty());
}

TEST(RunnerTest, ReplyLeftUnreadIsLostWhenThePortCloses) {
  auto runner = Runner::OnPty(Protocol::kTac);
  {
    Fd client = OpenClient(runner->Path());
    WriteAll(client.get(), kTacZoomIn);
    ASSERT_TRUE(WaitForEvent(*runner, Event::Kind::kReply));
  }
  // Let the runner see the close (it says so when the bytes had reached the
  // line's queue by then; the kernel may still hold them on their way).
  std::this_thread::sleep_for(100ms);
  Fd client = OpenClient(runner->Path());
  EXPECT_TRUE(ReadFor(client.get(), 1, 200ms).empty());
  // The next exchange is answered as usual.
  WriteAll(client.get(), kTacZoomIn);
  EXPECT_EQ(ReadFor(client.get(), kTacMessageSize, kPatience).size(), kTacMessageSize);
}

// A pseudo-terminal the test holds: its slave plays a serial device.
class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = Fd(::posix_openpt(O_RDWR | O_NOCTTY));
    ASSERT_TRUE(master_.valid());
    ASSERT_EQ(::grantpt(master_.get()), 0);
    ASSERT_EQ(::unlockpt(master_.get()), 0);
    char name[256];
    ASSERT_EQ(::ptsname_r(master_.get(), name, sizeof name), 0);
    path_ = name;
  }
  Fd master_;
  std::string path_;
};

TEST_F(DeviceTest, AttachesToAnExistingDeviceAndAnswersOnIt) {
  RunnerOptions options;
  options.baudRate = 19200;
  auto runner = Runner::OnDevice(Protocol::kTac, path_, options);
  EXPECT_EQ(runner->Path(), path_);
  WriteAll(master_.get(), kTacZoomIn);
  ASSERT_TRUE(runner->WaitForFrames(1, kPatience));
  EXPECT_EQ(runner->Frames().at(0).meaning, "zoom in (tele), address \"00\"");
  const Bytes reply = ReadFor(master_.get(), kTacMessageSize, kPatience);
  EXPECT_TRUE(TacChecksumRight(reply)) << Hex(reply);
}

TEST_F(DeviceTest, LosingTheDeviceEndsTheRunnerWithANotice) {
  auto runner = Runner::OnDevice(Protocol::kPelcoD, path_);
  master_.Reset();
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (runner->Running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_FALSE(runner->Running());
  EXPECT_TRUE(Has(runner->Events(), Event::Kind::kNotice));
}

TEST(RunnerDeviceErrorTest, RefusalsNameThePathAndTheReason) {
  struct Case {
    std::string path;
    int baud;
    const char* message;
  };
  for (const Case& c : {Case{"/nonexistent/ttyUSB9", 9600, "cannot open /nonexistent/ttyUSB9"},
                        Case{"/dev/null", 9600, "/dev/null is not a serial device"},
                        Case{"/dev/null", 1234, "unsupported baud rate 1234"}}) {
    RunnerOptions options;
    options.baudRate = c.baud;
    try {
      Runner::OnDevice(Protocol::kVisca, c.path, options);
      ADD_FAILURE() << c.path << " was accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.message));
    }
  }
}

}  // namespace
}  // namespace sim

// Cameras behind a real device server: ser2net on loopback in front of a
// simulated camera's terminal, raw and RFC 2217, driven through the module
// loaded by LumoDll with its COM port named by URL.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "ser2net_server.h"
#include "sim/runner.h"
#include "support/golden_frames.h"
#include "support/module_fixture.h"
#include "support/pty_pair.h"

namespace {

using namespace std::chrono_literals;
using namespace vorne_test;

const HWND kParent = reinterpret_cast<HWND>(0x1);

// The line speeds the terminal ran at while the test watched it. ser2net
// puts its own settings back when a connection ends, so the host's rate is
// seen only while a frame is under way.
class SpeedWatch {
 public:
  explicit SpeedWatch(const std::string& path)
      : fd_(open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)),
        thread_([this] { Run(); }) {}
  ~SpeedWatch() {
    stop_ = true;
    thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  std::set<speed_t> Seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }

 private:
  void Run() {
    while (!stop_) {
      termios line{};
      if (fd_ >= 0 && tcgetattr(fd_, &line) == 0) {
        std::lock_guard lock(mutex_);
        seen_.insert(cfgetospeed(&line));
      }
      std::this_thread::sleep_for(200us);
    }
  }
  int fd_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::set<speed_t> seen_;
  std::thread thread_;
};

struct NetCase {
  sim::Protocol protocol;
  bool rfc2217;
};

std::string CaseName(const ::testing::TestParamInfo<NetCase>& info) {
  std::string name = info.param.rfc2217 ? "Rfc2217_" : "Raw_";
  for (char c : sim::TypeName(info.param.protocol)) name += c == '-' ? '_' : c;
  return name;
}

std::vector<NetCase> AllCases() {
  std::vector<NetCase> cases;
  for (sim::Protocol p : sim::kAllProtocols) {
    cases.push_back({p, true});
    cases.push_back({p, false});
  }
  return cases;
}

class DeviceServerTest : public LoadedModuleTest, public ::testing::WithParamInterface<NetCase> {};

// Pelco-D at address 255 puts 0xFF in the address and stop checksums as
// well as the sync byte: every one must reach the line once, undoubled.
TEST_P(DeviceServerTest, EveryFrameArrivesUnderstoodAtTheHostsRateAndTheCameraEndsStopped) {
  const NetCase c = GetParam();
  auto runner = sim::Runner::OnPty(c.protocol);
  SpeedWatch speeds(runner->Path());
  Ser2net server({{runner->Path(), c.rfc2217}});
  ASSERT_EQ(server.Error(), "");
  ScopedComPort com2(2, server.Url(0) + "?connect_timeout_ms=2000");
  const bool pelcoD = c.protocol == sim::Protocol::kPelcoD;

  IPtzControl* camera = NewCamera();
  ASSERT_NE(camera, nullptr);
  ASSERT_EQ(camera->CreateController(sim::TypeId(c.protocol), kParent, 0), S_OK);
  ASSERT_EQ(camera->SetComPort(1), S_OK);
  ASSERT_EQ(camera->SetBaudRate(2400), S_OK);
  if (pelcoD) {
    ASSERT_EQ(camera->SetAddressCode(255), S_OK);
  }
  host_.ClearLines();

  const std::int32_t commands[] = {PTZ_PAN_LEFT, PTZ_STOP,     PTZ_ZOOM_IN, PTZ_STOP,
                                   PTZ_TILT_UP,  PTZ_ZOOM_OUT, PTZ_STOP};
  for (std::int32_t command : commands) {
    EXPECT_EQ(camera->Command(command), S_OK) << command;
  }
  EXPECT_EQ(host_.Lines(), std::vector<std::string>{});

  ASSERT_TRUE(runner->WaitFor(
      [](const std::vector<sim::Event>& events) {
        return !events.empty() && events.back().kind != sim::Event::Kind::kNotice &&
               !events.back().state.Moving() && events.back().state.frames >= 7;
      },
      10s))
      << runner->State().Describe() << [&] {
           std::string all;
           for (const sim::Event& e : runner->Events()) all += "\n" + sim::FormatEvent(e);
           return all;
         }();
  std::this_thread::sleep_for(150ms);  // let the line go quiet
  for (const sim::Event& e : runner->Events()) {
    EXPECT_NE(e.kind, sim::Event::Kind::kGarbage) << e.meaning;
    EXPECT_NE(e.check.verdict, sim::Check::Verdict::kBad) << e.meaning;
  }
  EXPECT_FALSE(runner->State().Moving()) << runner->State().Describe();
  if (pelcoD) {
    const FrameSet& f = kPelcoDAddress255;
    const FrameSet sent = {f[kPanLeft], f[kPanTiltStop], f[kZoomIn],      f[kZoomStop],
                           f[kTiltUp],  f[kZoomOut],     f[kPanTiltStop], f[kZoomStop]};
    FrameSet arrived;
    for (const sim::Event& e : runner->Frames()) arrived.push_back(e.bytes);
    EXPECT_EQ(arrived, sent);
  }
  // RFC 2217 carries the host's rate to the line; a raw accepter runs the
  // line as its configuration says.
  EXPECT_EQ(speeds.Seen().count(B2400), c.rfc2217 ? 1U : 0U);
}

INSTANTIATE_TEST_SUITE_P(Ser2net, DeviceServerTest, ::testing::ValuesIn(AllCases()), CaseName);

// ---- cameras taking turns behind one server ----

class SharedServerTest : public LoadedModuleTest {};

// More cameras than the drivers' four COM ports: the cameras share the
// names, each pointed at its own line just before its command, as a host
// driving many cameras through one device server does. Every camera must
// get exactly its own frames, in order, and end stopped.
TEST_F(SharedServerTest, CamerasTakingTurnsOnSharedComNamesEachGetOnlyTheirOwnFrames) {
  constexpr int kCameras = 10;
  std::vector<std::unique_ptr<sim::Runner>> runners;
  std::vector<Ser2net::Line> lines;
  for (int i = 0; i < kCameras; ++i) {
    sim::RunnerOptions options;
    options.address = i + 1;
    runners.push_back(sim::Runner::OnPty(sim::Protocol::kPelcoD, options));
    lines.push_back({runners.back()->Path(), true});
  }
  Ser2net server(lines, "9600n81");
  ASSERT_EQ(server.Error(), "");
  std::vector<std::unique_ptr<ScopedComPort>> names;
  for (int n = 1; n <= 4; ++n) names.push_back(std::make_unique<ScopedComPort>(n, ""));

  std::vector<IPtzControl*> cameras;
  for (int i = 0; i < kCameras; ++i) {
    IPtzControl* camera = NewCamera();
    ASSERT_NE(camera, nullptr);
    const auto parent = reinterpret_cast<HWND>(0x100 + static_cast<std::uintptr_t>(i) * 0x10);
    ASSERT_EQ(camera->CreateController(PTZ_TYPE_PELCO_D, parent, 0), S_OK);
    ASSERT_EQ(camera->SetComPort(i % 4), S_OK);
    ASSERT_EQ(camera->SetAddressCode(i + 1), S_OK);
    cameras.push_back(camera);
  }
  host_.ClearLines();

  struct Turn {
    std::int32_t command;
    std::uint8_t motionByte;  // Pelco-D command 2 of the frame it sends
  };
  const Turn turns[] = {
      {PTZ_PAN_LEFT, 0x04}, {PTZ_STOP, 0x00}, {PTZ_ZOOM_IN, 0x20}, {PTZ_STOP, 0x00}};
  for (const Turn& turn : turns) {
    for (int i = 0; i < kCameras; ++i) {
      const std::string name = "VORNE_COM" + std::to_string(i % 4 + 1);
      setenv(name.c_str(),
             (server.Url(static_cast<std::size_t>(i)) + "?connect_timeout_ms=2000").c_str(), 1);
      EXPECT_EQ(cameras[static_cast<std::size_t>(i)]->Command(turn.command), S_OK);
    }
  }
  EXPECT_EQ(host_.Lines(), std::vector<std::string>{});

  for (int i = 0; i < kCameras; ++i) {
    const sim::Runner& runner = *runners[static_cast<std::size_t>(i)];
    ASSERT_TRUE(runner.WaitForFrames(std::size(turns), 10s)) << "camera " << i + 1;
  }
  std::this_thread::sleep_for(150ms);  // let the lines go quiet
  for (int i = 0; i < kCameras; ++i) {
    const sim::Runner& runner = *runners[static_cast<std::size_t>(i)];
    const std::vector<sim::Event> frames = runner.Frames();
    ASSERT_EQ(frames.size(), std::size(turns)) << "camera " << i + 1;
    for (std::size_t f = 0; f < frames.size(); ++f) {
      const sim::Event& e = frames[f];
      ASSERT_EQ(e.bytes.size(), 7U) << sim::FormatEvent(e);
      EXPECT_EQ(e.bytes[1], i + 1) << sim::FormatEvent(e);
      EXPECT_EQ(e.bytes[3], turns[f].motionByte) << sim::FormatEvent(e);
      EXPECT_EQ(e.check.verdict, sim::Check::Verdict::kOk) << sim::FormatEvent(e);
      EXPECT_TRUE(e.applied) << sim::FormatEvent(e);
    }
    for (const sim::Event& e : runner.Events()) {
      EXPECT_NE(e.kind, sim::Event::Kind::kGarbage) << "camera " << i + 1 << ": " << e.meaning;
    }
    EXPECT_FALSE(runner.State().Moving()) << runner.State().Describe();
  }
}

// ---- servers that cannot be reached ----

class UnreachableServerTest : public LoadedModuleTest {
 protected:
  // Pans once and stops against `url`; the time the pan took.
  std::chrono::milliseconds PanAgainst(const std::string& url) {
    ScopedComPort com3(3, url);
    IPtzControl* camera = NewCamera();
    EXPECT_NE(camera, nullptr);
    if (camera == nullptr) return {};
    EXPECT_EQ(camera->CreateController(PTZ_TYPE_PELCO_D, kParent, 0), S_OK);
    EXPECT_EQ(camera->SetComPort(2), S_OK);
    host_.ClearLines();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(camera->Command(PTZ_PAN_LEFT), S_OK);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    const std::vector<std::string> failed = {"Open port exception,port = 3,BaudRate = 9600.\n",
                                             "Open com port 3 failed,baudrate = 9600.\n"};
    EXPECT_EQ(host_.Lines(), failed);
    return took;
  }
  std::string Trace() {
    std::ifstream in(tracePath_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string tracePath_ = "/tmp/vorne-net-trace-" + std::to_string(getpid());
  ScopedEnv trace_{"VORNE_TRACE", tracePath_};
};

TEST_F(UnreachableServerTest, ARefusedConnectionIsNoDeviceWithItsReasonTraced) {
  const int port = FreeLoopbackPort();
  const std::string url = "tcp://127.0.0.1:" + std::to_string(port) + "?connect_timeout_ms=300";
  EXPECT_LT(PanAgainst(url), 2000ms);
  EXPECT_NE(Trace().find("COM3 open failed " + url + ": 127.0.0.1:" + std::to_string(port) +
                         ": Connection refused"),
            std::string::npos)
      << Trace();
  unlink(tracePath_.c_str());
}

// A listener whose queue is full answers no new connection: the open gives
// up at the bound.
TEST_F(UnreachableServerTest, AServerThatTakesNoMoreConnectionsFailsAtTheConnectBound) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(at);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof(at)), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    connect(fillers.back(), reinterpret_cast<sockaddr*>(&at), sizeof(at));
  }
  std::this_thread::sleep_for(50ms);
  const std::string where = "127.0.0.1:" + std::to_string(ntohs(at.sin_port));
  const auto took = PanAgainst("rfc2217://" + where + "?connect_timeout_ms=250");
  EXPECT_GE(took, 240ms);
  EXPECT_LT(took, 2000ms);
  EXPECT_NE(Trace().find("no answer from " + where + " in 250 ms"), std::string::npos) << Trace();
  for (int fd : fillers) close(fd);
  close(listener);
  unlink(tracePath_.c_str());
}

}  // namespace

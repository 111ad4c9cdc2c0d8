// vornectl against simulated cameras: move for every serial type,
// interactive through a terminal, and the whole demo.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "run_program.h"
#include "sim/runner.h"
#include "support/child_process.h"
#include "support/terminal_program.h"

namespace {

using namespace std::chrono_literals;
using vorne_test::ChildProcess;
using vorne_test::RunProgram;
using vorne_test::Stream;

// How long a program may take to show what the test waits for.
constexpr auto kShows = 10s;

// The local modes a cooked terminal has and raw input takes away.
constexpr unsigned kCookedModes = ICANON | ECHO | ISIG;

// vornectl at a terminal of its own.
struct AtATerminal : vorne_test::TerminalProgram {
  explicit AtATerminal(const std::vector<std::string>& args,
                       std::map<std::string, std::string> env = {})
      : TerminalProgram(VORNECTL_PATH, args, std::move(env)) {}
};

bool AnyFrameMeans(const std::vector<sim::Event>& frames, const std::string& words) {
  for (const sim::Event& e : frames) {
    if (e.meaning.find(words) != std::string::npos) return true;
  }
  return false;
}

class MoveTest : public ::testing::TestWithParam<sim::Protocol> {};

TEST_P(MoveTest, PutsUnderstoodFramesOnTheLineAndLeavesTheCameraStopped) {
  auto runner = sim::Runner::OnPty(GetParam());
  const std::string type(sim::TypeName(GetParam()));
  const auto result = RunProgram(VORNECTL_PATH,
                                 {"move", "--type", type, "--port", "2", "--baud", "9600",
                                  "--address", "2", "left", "sleep", "30", "zoom-in", "stop"},
                                 {{"VORNE_COM2", runner->Path()}});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.err.find("module: Set Control COM Port 2."), std::string::npos) << result.err;
  ASSERT_TRUE(runner->WaitFor(
      [](const std::vector<sim::Event>& events) {
        for (const auto& e : events) {
          if (e.kind == sim::Event::Kind::kFrame && e.meaning.find("stop") != std::string::npos) {
            return true;
          }
        }
        return false;
      },
      5s));
  std::this_thread::sleep_for(150ms);  // let the line go quiet
  const auto frames = runner->Frames();
  EXPECT_TRUE(AnyFrameMeans(frames, "pan left")) << type;
  for (const sim::Event& e : runner->Events()) {
    EXPECT_NE(e.kind, sim::Event::Kind::kGarbage) << type << ": " << e.meaning;
    EXPECT_NE(e.check.verdict, sim::Check::Verdict::kBad) << type << ": " << e.meaning;
  }
  EXPECT_FALSE(runner->State().Moving()) << runner->State().Describe();
}

std::string ProtocolTestName(const ::testing::TestParamInfo<sim::Protocol>& info) {
  std::string name;
  for (char c : sim::Alias(info.param)) {
    if (c != '-') name += c;
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(SerialTypes, MoveTest, ::testing::ValuesIn(sim::kAllProtocols),
                         ProtocolTestName);

TEST(Vornectl, VendorTypeWithoutItsLibraryIsAnErrorAndNeedsNoPort) {
  const auto result = RunProgram(VORNECTL_PATH, {"move", "--type", "RC20", "left", "stop"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.err.find("RC20 needs its vendor library"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("CDLL_301P.dll, which is missing"), std::string::npos) << result.err;
}

// The camera's last word: no motion left running, and the last frame a stop.
void ExpectStopped(sim::Runner& camera, const std::string& what) {
  std::this_thread::sleep_for(150ms);  // let the line go quiet
  EXPECT_FALSE(camera.State().Moving()) << what << ": " << camera.State().Describe();
  const auto frames = camera.Frames();
  if (!frames.empty()) {
    EXPECT_NE(frames.back().meaning.find("stop"), std::string::npos)
        << what << ": " << frames.back().meaning;
  }
}

struct StopCase {
  int signal;
  const char* waitFor;  // "" signals at once, before the module is even loaded
};

TEST(Vornectl, ASignalAtAnyPointOfAMoveLeavesTheCameraStopped) {
  const StopCase cases[] = {
      {SIGINT, ""},      {SIGINT, "vornectl: PELCO_D on COM1"},
      {SIGINT, "left:"}, {SIGTERM, "left:"},
      {SIGHUP, "left:"}, {SIGTERM, "zoom-in:"},
  };
  for (const StopCase& c : cases) {
    auto camera = sim::Runner::OnPty(sim::Protocol::kPelcoD);
    const std::string what = std::string(strsignal(c.signal)) + " at '" + c.waitFor + "'";
    const auto started = std::chrono::steady_clock::now();
    AtATerminal user({"move", "left", "zoom-in", "sleep", "8000", "stop", "--type", "PELCO_D",
                      "--device", camera->Path()});
    ASSERT_TRUE(user.program.Started()) << user.program.Error();
    ASSERT_TRUE(user.Shows(c.waitFor)) << what << "\n" << user.Screen();
    user.program.Signal(c.signal);
    EXPECT_EQ(user.program.Wait().ShellCode(), 128 + c.signal) << what << "\n" << user.Screen();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 6s) << what;
    ExpectStopped(*camera, what);
  }
}

TEST(Vornectl, AClosedOutputEndsTheMoveWithTheCameraStopped) {
  auto camera = sim::Runner::OnPty(sim::Protocol::kPelcoD);
  const auto started = std::chrono::steady_clock::now();
  ChildProcess program(
      vorne_test::ChildCommand(VORNECTL_PATH, {"move", "--type", "PELCO_D", "--device",
                                               camera->Path(), "left", "sleep", "8000", "stop"})
          .Err(Stream::kNull));
  ASSERT_TRUE(program.Out().WaitFor("left:", kShows)) << program.Out().Text();
  program.CloseOut();  // as `| head -1` does
  EXPECT_EQ(program.Wait().ShellCode(), 128 + SIGPIPE);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 6s);
  // The frames were written before the program ended, not yet read.
  ASSERT_TRUE(camera->WaitForFrames(2, 5s));
  ASSERT_TRUE(AnyFrameMeans(camera->Frames(), "pan left"));
  ExpectStopped(*camera, "closed output");
}

// Runs vornectl interactive on a new terminal and types at it.
TEST(Vornectl, InteractiveSteersWithKeysAndRestoresTheTerminal) {
  auto camera = sim::Runner::OnPty(sim::Protocol::kPelcoD);
  AtATerminal user({"interactive", "--type", "PELCO_D", "--port", "1"},
                   {{"VORNE_COM1", camera->Path()}});
  ASSERT_EQ(user.modesBefore & kCookedModes, kCookedModes);
  ASSERT_TRUE(user.Shows("q quits")) << user.Screen();  // shown once the terminal is raw
  EXPECT_EQ(user.LocalModes() & kCookedModes, 0u);
  user.tty.Type("\x1b[D");  // left arrow
  ASSERT_TRUE(user.Shows("left: Command(1) = ")) << user.Screen();
  user.tty.Type("\x1b[A");  // up arrow: stop, then tilt up
  ASSERT_TRUE(user.Shows("up: Command(3) = ")) << user.Screen();
  user.tty.Type(" q");
  ASSERT_TRUE(user.Shows("bye")) << user.Screen();
  EXPECT_EQ(user.program.Wait().ShellCode(), 0) << user.Screen();

  EXPECT_EQ(user.LocalModes() & kCookedModes, kCookedModes);

  ASSERT_TRUE(camera->WaitForFrames(4, 5s));
  std::this_thread::sleep_for(150ms);
  const auto frames = camera->Frames();
  ASSERT_GE(frames.size(), 4u);
  EXPECT_NE(frames[0].meaning.find("pan left"), std::string::npos) << frames[0].meaning;
  EXPECT_NE(frames[1].meaning.find("stop"), std::string::npos) << frames[1].meaning;
  EXPECT_NE(frames[2].meaning.find("tilt up"), std::string::npos) << frames[2].meaning;
  EXPECT_NE(frames[3].meaning.find("stop"), std::string::npos) << frames[3].meaning;
  EXPECT_FALSE(camera->State().Moving());
}

TEST(Vornectl, InteractiveStopsTheCameraOnSignalsCtrlCAndAHangUp) {
  enum class How { kSignal, kCtrlC, kHangUp };
  struct Case {
    How how;
    int signal;
    int exitCode;  // -1: any of 128+n (a hang-up may be seen as SIGHUP or a dead output)
  };
  const Case cases[] = {
      {How::kSignal, SIGTERM, 128 + SIGTERM},
      {How::kSignal, SIGINT, 130},
      {How::kSignal, SIGHUP, 128 + SIGHUP},
      {How::kCtrlC, 0, 130},
      {How::kHangUp, 0, -1},
  };
  for (const Case& c : cases) {
    auto camera = sim::Runner::OnPty(sim::Protocol::kPelcoD);
    AtATerminal user({"interactive", "--type", "PELCO_D", "--device", camera->Path()});
    ASSERT_EQ(user.modesBefore & kCookedModes, kCookedModes);
    ASSERT_TRUE(user.Shows("q quits")) << user.Screen();
    user.tty.Type("\x1b[D+");  // pan left and zoom in
    ASSERT_TRUE(user.Shows("zoom-in: Command(5)")) << user.Screen();
    switch (c.how) {
      case How::kSignal: user.program.Signal(c.signal); break;
      case How::kCtrlC: user.tty.Type("\x03"); break;
      case How::kHangUp: user.HangUp(); break;
    }
    const int code = user.program.Wait().ShellCode();
    if (c.exitCode < 0) {
      EXPECT_GT(code, 128) << user.Screen();
    } else {
      EXPECT_EQ(code, c.exitCode) << user.Screen();
    }
    if (c.how != How::kHangUp) {
      EXPECT_EQ(user.LocalModes() & kCookedModes, kCookedModes)
          << "case " << static_cast<int>(c.how);
    }
    ExpectStopped(*camera, "interactive, case " + std::to_string(static_cast<int>(c.how)));
  }
}

TEST(Vornectl, TacFailuresAreJudgedAndFailTheRun) {
  struct Case {
    sim::ReplyMode mode;
    const char* verdict;
  };
  const Case cases[] = {
      {sim::ReplyMode::kWrongChecksum, "reply checksum wrong (expected "},
      {sim::ReplyMode::kSilent, "no reply in 200 ms"},
      {sim::ReplyMode::kShort, "short reply ("},
      {sim::ReplyMode::kRight, nullptr},
  };
  for (const Case& c : cases) {
    sim::RunnerOptions options;
    options.replyMode = c.mode;
    auto camera = sim::Runner::OnPty(sim::Protocol::kTac, options);
    const auto result = RunProgram(
        VORNECTL_PATH, {"move", "--type", "TAC", "--device", camera->Path(), "left", "stop"});
    const std::string mode(sim::ReplyModeName(c.mode));
    if (c.verdict == nullptr) {
      EXPECT_EQ(result.exitCode, 0) << mode << "\n" << result.err;
      continue;
    }
    EXPECT_EQ(result.exitCode, 1) << mode << "\n" << result.err;
    EXPECT_NE(result.err.find(std::string("left: COM1 ") + c.verdict), std::string::npos)
        << mode << "\n"
        << result.err;
    EXPECT_NE(result.out.find("left: Command(1) = S_OK, but failed"), std::string::npos)
        << result.out;
  }
}

// Needs the module's own verdict lines and Z-marked stamps in the trace.
TEST(Vornectl, TheTraceFileCarriesTheVerdictWithUtcStamps) {
  sim::RunnerOptions options;
  options.replyMode = sim::ReplyMode::kWrongChecksum;
  auto camera = sim::Runner::OnPty(sim::Protocol::kTac, options);
  char tracePath[] = "/tmp/vorne-trace-XXXXXX";
  close(mkstemp(tracePath));
  const auto result =
      RunProgram(VORNECTL_PATH, {"move", "--type", "TAC", "--device", camera->Path(), "left"},
                 {{"VORNE_TRACE", tracePath}, {"TZ", "Europe/Berlin"}});
  EXPECT_EQ(result.exitCode, 1);
  std::ifstream in(tracePath);
  std::string line;
  bool verdict = false;
  const std::regex stamp(
      "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z COM1 .*");
  std::string unstamped;
  while (std::getline(in, line)) {
    if (unstamped.empty() && !std::regex_match(line, stamp)) unstamped = line;
    verdict = verdict || line.find("COM1 reply checksum wrong (expected ") != std::string::npos;
  }
  EXPECT_EQ(unstamped, "") << "a line without the UTC stamp";
  EXPECT_TRUE(verdict) << "no verdict line in the trace";
  unlink(tracePath);
}

TEST(Vornectl, JsonGivesOneObjectPerCallWithTheWireBytes) {
  auto camera = sim::Runner::OnPty(sim::Protocol::kPelcoD);
  const auto result = RunProgram(VORNECTL_PATH, {"--json", "move", "--type", "PELCO_D", "--device",
                                                 camera->Path(), "--address", "3", "left", "stop"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  std::istringstream lines(result.out);
  std::vector<nlohmann::json> objects;
  for (std::string line; std::getline(lines, line);) objects.push_back(nlohmann::json::parse(line));
  std::vector<std::string> actions;
  for (const auto& o : objects) actions.push_back(o.at("action"));
  EXPECT_EQ(actions, (std::vector<std::string>{"create", "controller", "port", "address", "left",
                                               "stop", "end", "destroy"}));
  const auto& left = objects.at(4);
  EXPECT_EQ(left.at("call"), "Command(1)");
  EXPECT_EQ(left.at("result"), "S_OK");
  EXPECT_TRUE(left.at("ok").get<bool>());
  const auto wire = left.at("wire").get<std::vector<std::string>>();
  EXPECT_NE(std::find(wire.begin(), wire.end(), "COM1 out 7: FF 03 00 04 20 00 27"), wire.end())
      << left.dump();
  EXPECT_EQ(objects.at(3).at("log").at(0), "Set AddrCode 3.");
}

TEST(Vornectl, DemoOfAllTypesSucceeds) {
  const auto result = RunProgram(VORNECTL_PATH, {"demo", "--all", "--compact"});
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  std::size_t oks = 0;
  for (std::size_t at = result.out.find("  ok\n"); at != std::string::npos;
       at = result.out.find("  ok\n", at + 1)) {
    ++oks;
  }
  EXPECT_EQ(oks, 8u) << result.out;
  // Pelco-P's zoom is shown as the camera reads it, not hidden.
  EXPECT_NE(result.out.find("zoom out (wide), address 2"), std::string::npos);
}

}  // namespace

// vornectl against simulated cameras: move for every serial type,
// interactive through a terminal, and the whole demo.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "run_program.h"
#include "sim/runner.h"

namespace {

using namespace std::chrono_literals;
using vorne_test::RunProgram;

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

TEST(Vornectl, MoveReportsRefusedSettingsInWords) {
  // A vendor type without its library refuses the baud rate; the camera is
  // still created and the refusal is named.
  const auto result = RunProgram(
      VORNECTL_PATH, {"move", "--type", "RC20", "--port", "1", "--baud", "4800", "left", "stop"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("SetBaudRate(4800): E_FAIL"), std::string::npos) << result.err;
}

// Runs vornectl interactive on a new terminal and types at it.
TEST(Vornectl, InteractiveSteersWithKeysAndRestoresTheTerminal) {
  auto camera = sim::Runner::OnPty(sim::Protocol::kPelcoD);
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slavePath = ptsname(master);
  const int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  termios before{};
  ASSERT_EQ(tcgetattr(slave, &before), 0);

  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    const int tty = open(slavePath.c_str(), O_RDWR);
    dup2(tty, 0);
    dup2(tty, 1);
    dup2(tty, 2);
    setenv("VORNE_COM1", camera->Path().c_str(), 1);
    execl(VORNECTL_PATH, VORNECTL_PATH, "interactive", "--type", "PELCO_D", "--port", "1",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  // Reads what the program prints until `text` shows up.
  std::string screen;
  auto waitFor = [&](const std::string& text) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (screen.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
      pollfd pfd{master, POLLIN, 0};
      if (poll(&pfd, 1, 100) > 0) {
        char buffer[256];
        const ssize_t n = read(master, buffer, sizeof(buffer));
        if (n > 0) screen.append(buffer, static_cast<std::size_t>(n));
      }
    }
    return screen.find(text) != std::string::npos;
  };
  ASSERT_TRUE(waitFor("q quits")) << screen;
  ASSERT_EQ(write(master, "\x1b[D", 3), 3);  // left arrow
  ASSERT_TRUE(waitFor("left")) << screen;
  ASSERT_EQ(write(master, "\x1b[A", 3), 3);  // up arrow: stop, then tilt up
  ASSERT_TRUE(waitFor("up")) << screen;
  ASSERT_EQ(write(master, " ", 1), 1);
  ASSERT_EQ(write(master, "q", 1), 1);
  ASSERT_TRUE(waitFor("bye")) << screen;
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;

  termios after{};
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ISIG), before.c_lflag & (ICANON | ECHO | ISIG));

  ASSERT_TRUE(camera->WaitForFrames(4, 5s));
  std::this_thread::sleep_for(150ms);
  const auto frames = camera->Frames();
  ASSERT_GE(frames.size(), 4u);
  EXPECT_NE(frames[0].meaning.find("pan left"), std::string::npos) << frames[0].meaning;
  EXPECT_NE(frames[1].meaning.find("stop"), std::string::npos) << frames[1].meaning;
  EXPECT_NE(frames[2].meaning.find("tilt up"), std::string::npos) << frames[2].meaning;
  EXPECT_NE(frames[3].meaning.find("stop"), std::string::npos) << frames[3].meaning;
  EXPECT_FALSE(camera->State().Moving());
  close(slave);
  close(master);
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

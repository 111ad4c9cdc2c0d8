// The runner the tests start programs with: how a program ended, what it
// was given and what it wrote, and that none outlives the test.
#include "support/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <string>

namespace vorne_test {
namespace {

using namespace std::chrono_literals;

struct EndCase {
  const char* script;
  int code;
  int signal;
  int shellCode;
};

TEST(ChildProcessTest, ReportsHowTheProgramEnded) {
  const EndCase cases[] = {
      {"exit 0", 0, 0, 0},
      {"exit 3", 3, 0, 3},
      {"kill -TERM $$", -1, SIGTERM, 128 + SIGTERM},
      // Ignored by the test, SIGPIPE still ends the program as from a shell.
      {"kill -PIPE $$", -1, SIGPIPE, 128 + SIGPIPE},
  };
  const auto before = ::signal(SIGPIPE, SIG_IGN);
  for (const EndCase& c : cases) {
    ChildProcess child(ChildCommand("/bin/sh", {"-c", c.script}));
    ASSERT_TRUE(child.Started()) << child.Error();
    const ChildExit end = child.Wait();
    EXPECT_EQ(end.code, c.code) << c.script;
    EXPECT_EQ(end.signal, c.signal) << c.script;
    EXPECT_EQ(end.ShellCode(), c.shellCode) << c.script;
  }
  ::signal(SIGPIPE, before);
}

TEST(ChildProcessTest, GivesTheEnvironmentAndKeepsEachStreamApart) {
  for (const Stream stream : {Stream::kPipe, Stream::kFile}) {
    ChildProcess child(ChildCommand("/bin/sh", {"-c", "echo \"$VORNE_CHILD_TEST\"; echo oops >&2"})
                           .Env({{"VORNE_CHILD_TEST", "two words"}})
                           .Out(stream)
                           .Err(stream));
    EXPECT_EQ(child.Wait().code, 0);
    EXPECT_EQ(child.Out().ReadToEnd(), "two words\n");
    EXPECT_EQ(child.Err().ReadToEnd(), "oops\n");
  }
}

TEST(ChildProcessTest, SaysWhenTheProgramCannotRun) {
  ChildProcess child(ChildCommand("/nonexistent/vorne-program"));
  EXPECT_FALSE(child.Started());
  EXPECT_NE(child.Error().find("cannot run /nonexistent/vorne-program"), std::string::npos)
      << child.Error();
  EXPECT_EQ(child.Wait().code, 127);
}

TEST(ChildProcessTest, APipeEndsWhenTheProgramDoesAndLinesComeOneByOne) {
  ChildProcess child(ChildCommand("/bin/sh", {"-c", "echo one; echo two"}));
  EXPECT_EQ(child.Out().NextLine(10s), "one");
  EXPECT_EQ(child.Out().NextLine(10s), "two");
  EXPECT_EQ(child.Out().NextLine(10s), "");  // the end, not the bound
  EXPECT_EQ(child.Wait().code, 0);
}

TEST(ChildProcessTest, AProgramPastItsBoundIsKilled) {
  const auto started = std::chrono::steady_clock::now();
  ChildProcess child(ChildCommand("/bin/sleep", {"30"}));
  EXPECT_EQ(child.Wait(100ms).signal, SIGKILL);
  EXPECT_FALSE(child.Running());
  EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
}

TEST(ChildProcessTest, NoProgramOutlivesItsRunner) {
  pid_t pid = -1;
  {
    ChildProcess child(ChildCommand("/bin/sleep", {"30"}));
    ASSERT_TRUE(child.Started()) << child.Error();
    pid = child.Pid();
  }
  // Killed and reaped: not even a zombie is left under that number.
  EXPECT_EQ(::kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
}

}  // namespace
}  // namespace vorne_test

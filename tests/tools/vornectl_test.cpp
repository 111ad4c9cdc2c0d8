// vornectl as a user runs it: arguments, exit codes and what it prints.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "run_program.h"
#include "sim/runner.h"
#include "support/child_process.h"
#include "support/pty_pair.h"
#include "support/terminal_program.h"

namespace {

using vorne_test::RunProgram;

TEST(Vornectl, TypesListsTheEightCameraTypesThroughTheModule) {
  const auto result = RunProgram(VORNECTL_PATH, {"types"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  for (const char* name : {"0    EVI_D31", "1    RC20", "2    SU_320", "3    TAC",
                           "4    VIDEOTREC_PWT", "5    PELCO_D", "6    VC_C50i", "7    PELCO_P"}) {
    EXPECT_NE(result.out.find(name), std::string::npos) << name << "\n" << result.out;
  }
}

TEST(Vornectl, UsageErrorsExitWithTwoAndNameTheChoices) {
  struct Case {
    std::vector<std::string> args;
    const char* expectedInError;
  };
  const Case cases[] = {
      {{"--module", "/nonexistent/vorne.so", "types"}, "cannot load module"},
      {{"move", "--type", "FOO", "--port", "1", "stop"}, "EVI_D31 (0)"},
      {{"move", "--type", "8", "--port", "1", "stop"}, "PELCO_P (7)"},
      {{"move", "--type", "PELCO_D", "--port", "5", "stop"}, "1 to 4"},
      {{"move", "--type", "PELCO_D", "--port", "one", "stop"}, "port"},
      {{"move", "--type", "PELCO_D", "--port", "1", "jump"}, "zoom-in"},
      {{"move", "--type", "PELCO_D", "--port", "1", "sleep", "soon"}, "sleep needs a number"},
      {{"move", "--type", "PELCO_D", "--port", "1", "left", "sleep"}, "sleep needs a number"},
      {{"types", "--module", "/nonexistent/vorne.so"}, "cannot load module"},
      {{"move", "stop"}, "--type is required"},
      {{"move", "--type", "PELCO_D", "stop"}, "needs --port N (COM1 to COM4) or --device PATH"},
      {{"move", "--type", "PELCO_D", "--port", "1", "--baud", "12345", "stop"},
       "cannot run at 12345 baud"},
      {{"move", "--type", "PELCO_D", "--port", "1", "--address", "999", "stop"},
       "PELCO_D addresses are 0 to 255"},
      {{"move", "--type", "PELCO_P", "--port", "1", "--address", "0", "stop"},
       "PELCO_P address codes are 1 to 256"},
      {{"move", "--type", "SU_320", "--port", "1", "stop"}, "uses no serial port"},
      {{"move", "--type", "SU_320", "--baud", "9600", "stop"}, "takes no baud rate"},
      {{"move", "--type", "PELCO_D", "--port", "1", "--baud", "fast", "stop"}, "baud"},
      {{"launch"}, "subcommand"},
      {{}, "subcommand"},
  };
  for (const Case& c : cases) {
    const auto result = RunProgram(VORNECTL_PATH, c.args);
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    EXPECT_EQ(result.exitCode, 2) << joined << "\n" << result.err;
    EXPECT_NE((result.err + result.out).find(c.expectedInError), std::string::npos)
        << joined << "\n"
        << result.err;
  }
}

TEST(Vornectl, AFrameThatNeverLeftFailsTheRunAndPointsToTheTrace) {
  // Commands answer S_OK whatever the port did, so the module's log decides.
  // The type name is matched without regard to case.
  const auto result =
      RunProgram(VORNECTL_PATH, {"move", "--type", "pelco_d", "--port", "1", "left"},
                 {{"VORNE_COM1", "/nonexistent/tty"}});
  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_NE(result.err.find("module: Open com port 1 failed,baudrate = 9600."), std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("VORNE_TRACE"), std::string::npos) << result.err;
}

TEST(Vornectl, MoveRefusesASecondMotionOfAGroupBeforeSendingAnything) {
  // The module would drop 'right' without a word while 'left' runs.
  const auto result = RunProgram(
      VORNECTL_PATH,
      {"move", "--type", "PELCO_D", "--port", "1", "left", "sleep", "300", "right", "stop"},
      {{"VORNE_COM1", "/nonexistent/tty"}});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("'right' while 'left' is still moving"), std::string::npos)
      << result.err;
  EXPECT_EQ(result.err.find("module:"), std::string::npos) << "something was sent";
}

TEST(Vornectl, OpenFailuresGiveTheSystemsReasonWithoutTheTrace) {
  const auto result = RunProgram(
      VORNECTL_PATH,
      {"move", "--type", "PELCO_D", "--device", "/nonexistent/ttyUSB9", "--baud", "38400", "left"});
  EXPECT_EQ(result.exitCode, 1);
  for (const char* text :
       {"vornectl: PELCO_D on COM1 = /nonexistent/ttyUSB9 (--device), 38400,n,8,1",
        "PELCO_D cameras usually run at 2400, 4800, 9600 baud",
        "cannot open /nonexistent/ttyUSB9: no such file or directory: `vornectl ports`"}) {
    EXPECT_NE(result.err.find(text), std::string::npos) << text << "\n" << result.err;
  }
}

TEST(Vornectl, VersionHelpAndPortsSayWhatAUserNeeds) {
  const auto version = RunProgram(VORNECTL_PATH, {"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "vornectl " VORNE_VERSION "\n");
  const auto help = RunProgram(VORNECTL_PATH, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* text : {"VORNE_COMn", "/dev/ttyS<n-1>", "VORNE_TRACE", "NO_COLOR", "Exit codes",
                           "130 Ctrl-C", "--device", "--json"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }
  const auto ports = RunProgram(VORNECTL_PATH, {"ports"}, {{"VORNE_COM2", "/dev/null"}});
  EXPECT_EQ(ports.exitCode, 0);
  EXPECT_NE(ports.out.find("COM2 = /dev/null  (from VORNE_COM2, usable)"), std::string::npos)
      << ports.out;
  EXPECT_NE(ports.out.find("COM4 = "), std::string::npos) << ports.out;
}

// A device this user may not open: both places that advise name a group
// only when that group may open the device, else say who may.
TEST(Vornectl, PermissionAdviceFollowsTheDevicesOwnerGroupAndMode) {
  const passwd* nobody = ::getpwnam("nobody");
  const group* dialout = ::getgrnam("dialout");
  if (::geteuid() != 0 || nobody == nullptr || dialout == nullptr) {
    GTEST_SKIP() << "needs root, a user nobody and a group dialout";
  }
  vorne_test::PtyPair pty;
  ASSERT_TRUE(pty.Ok()) << pty.Error();
  const std::string device = pty.SlavePath();
  struct Case {
    gid_t group;
    mode_t mode;
    std::string advice;  // after a failed open
    std::string brief;   // in the port list
  };
  const Case cases[] = {
      {0, 0600, "only root can open it (crw------- root root)",
       "only root can open it (crw------- root root)"},
      {dialout->gr_gid, 0660,
       "add yourself to the dialout group (sudo usermod -aG dialout \"$USER\", then log in again)",
       "add yourself to the dialout group"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.brief);
    ASSERT_EQ(::chown(device.c_str(), 0, c.group), 0);
    ASSERT_EQ(::chmod(device.c_str(), c.mode), 0);
    const auto run = [&](std::vector<std::string> args) {
      vorne_test::ChildProcess program(vorne_test::ChildCommand(VORNECTL_PATH, std::move(args))
                                           .Env({{"VORNE_COM2", device}})
                                           .As(nobody->pw_uid, nobody->pw_gid)
                                           .Out(vorne_test::Stream::kFile)
                                           .Err(vorne_test::Stream::kFile));
      program.Wait();
      return program.Out().ReadToEnd() + program.Err().ReadToEnd();
    };
    const std::string moved = run({"move", "--type", "PELCO_D", "--port", "2", "left"});
    EXPECT_NE(moved.find("cannot open " + device + ": permission denied: " + c.advice),
              std::string::npos)
        << moved;
    const std::string ports = run({"ports"});
    EXPECT_NE(
        ports.find("COM2 = " + device + "  (from VORNE_COM2, no permission: " + c.brief + ")"),
        std::string::npos)
        << ports;
  }
}

// Installs into a scratch prefix and checks the man pages against the help
// each program gives now, and the completion scripts.
TEST(Vornectl, InstallBringsManPagesInStepWithTheHelpAndCompletion) {
  if (!VORNE_INSTALLED_TESTS) GTEST_SKIP() << "installs are tested in the default build";
  char prefix[] = "/tmp/vorne-install-XXXXXX";
  ASSERT_NE(mkdtemp(prefix), nullptr);
  const std::string install =
      std::string("cmake --install " VORNE_BUILD_DIR " --prefix ") + prefix + " > /dev/null";
  ASSERT_EQ(std::system(install.c_str()), 0);
  struct Program {
    const char* path;
    const char* name;
    std::vector<std::vector<std::string>> helps;
  };
  const Program programs[] = {
      {VORNECTL_PATH,
       "vornectl",
       {{"--help"}, {"move", "--help"}, {"interactive", "--help"}, {"demo", "--help"}}},
      {VORNE_CAMSIM_PATH, "vorne-camsim", {{"--help"}}},
  };
  for (const Program& p : programs) {
    std::ifstream page(std::string(prefix) + "/share/man/man1/" + p.name + ".1");
    std::stringstream text;
    text << page.rdbuf();
    ASSERT_FALSE(text.str().empty()) << p.name << ".1 not installed";
    const std::regex option("--[a-z][a-z-]+");
    for (const auto& args : p.helps) {
      const std::string help = RunProgram(p.path, args).out;
      for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it) {
        EXPECT_NE(text.str().find(it->str()), std::string::npos)
            << p.name << ".1 lacks " << it->str();
      }
    }
    struct stat st {};
    EXPECT_EQ(
        stat((std::string(prefix) + "/share/bash-completion/completions/" + p.name).c_str(), &st),
        0)
        << p.name;
    const std::string check = std::string("bash -c 'source ") + prefix +
                              "/share/bash-completion/completions/" + p.name + " && complete -p " +
                              p.name + "' > /dev/null";
    EXPECT_EQ(std::system(check.c_str()), 0) << p.name;
  }
  std::system((std::string("rm -rf ") + prefix).c_str());
}

TEST(Vornectl, ColourOnlyOnATerminalAndNeverWithNoColor) {
  auto camera = sim::Runner::OnPty(sim::Protocol::kPelcoD);
  for (const bool noColour : {false, true}) {
    std::map<std::string, std::string> env;
    if (noColour) env["NO_COLOR"] = "1";
    vorne_test::TerminalProgram user(
        VORNECTL_PATH, {"move", "--type", "PELCO_D", "--device", camera->Path(), "left", "stop"},
        env);
    ASSERT_TRUE(user.Shows("destroy:")) << user.Screen();
    user.Shows("\n");
    EXPECT_EQ(user.program.Wait().ShellCode(), 0);
    EXPECT_EQ(user.Screen().find('\x1b') == std::string::npos, noColour) << user.Screen();
  }
  // Into a pipe: plain.
  const auto piped = RunProgram(
      VORNECTL_PATH, {"move", "--type", "PELCO_D", "--device", camera->Path(), "left", "stop"});
  EXPECT_EQ(piped.out.find('\x1b'), std::string::npos) << piped.out;
}

}  // namespace

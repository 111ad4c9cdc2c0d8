// vornectl as a user runs it: arguments, exit codes and what it prints.
#include <gtest/gtest.h>

#include "run_program.h"

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
      {{"move", "--type", "PELCO_D", "--port", "1", "sleep", "soon"}, "sleep MS"},
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

}  // namespace

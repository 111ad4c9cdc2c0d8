// Host programs as host authors write them, each run as its own process
// against the built module and a simulated camera: the C99 host, the
// README's example with the host kit and the same example without it.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "drive_check.h"

namespace {

using vorne_test::DrivePelcoCamera;
using vorne_test::RunProgram;

struct HostProgram {
  const char* name;
  const char* path;
};
void PrintTo(const HostProgram& program, std::ostream* out) { *out << program.name; }

const HostProgram kPrograms[] = {
    {"CHost", VORNE_C_HOST_PATH},
    {"KitExample", VORNE_MINIMAL_HOST_PATH},
    {"PlainExample", VORNE_PLAIN_HOST_PATH},
};

class HostProgramTest : public ::testing::TestWithParam<HostProgram> {};

TEST_P(HostProgramTest, PansAndStopsASimulatedCamera) {
  DrivePelcoCamera(GetParam().path, {VORNE_MODULE_PATH});
}

TEST_P(HostProgramTest, NamesTheLoadersReasonForAModuleThatCannotLoad) {
  const auto result = RunProgram(GetParam().path, {"/nonexistent/vorne.so"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.err.find("/nonexistent/vorne.so: cannot open shared object file"),
            std::string::npos)
      << result.err;
}

INSTANTIATE_TEST_SUITE_P(Hosts, HostProgramTest, ::testing::ValuesIn(kPrograms),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CHostTest, ListsEveryCameraTypeAndReleasesTheSinkAtUnload) {
  const auto result = DrivePelcoCamera(VORNE_C_HOST_PATH, {VORNE_MODULE_PATH});
  for (const char* row : {"type 0 EVI_D31\n", "type 4 VIDEOTREC_PWT\n", "type 7 PELCO_P\n"}) {
    EXPECT_NE(result.out.find(row), std::string::npos) << row;
  }
  // The program checks results, references and the release of its sink
  // itself and says so on its last line.
  EXPECT_NE(result.out.find("c host: "), std::string::npos);
  EXPECT_NE(result.out.find(", ok\n"), std::string::npos) << result.out << result.err;
}

}  // namespace

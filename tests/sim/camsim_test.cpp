// vorne-camsim as a user runs it: argument errors, and one frame through a
// pseudo-terminal from start to Ctrl-C.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "sim/decoder.h"
#include "sim/fd.h"
#include "support/child_process.h"

namespace sim {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using vorne_test::ChildProcess;

// vorne-camsim started with pipes on its output and error streams.
class Camsim : public ChildProcess {
 public:
  explicit Camsim(const std::vector<std::string>& args)
      : ChildProcess(vorne_test::ChildCommand(VORNE_CAMSIM_PATH, args)) {
    EXPECT_TRUE(Started()) << Error();
  }

  // The next line of the output stream, or "" after `timeout`.
  std::string ReadLine(std::chrono::milliseconds timeout) { return Out().NextLine(timeout); }
  // The exit code; -1 when a signal ended it.
  int Exit() { return Wait().code; }
  // All of the error stream, once the simulator has ended.
  std::string Stderr() { return Err().ReadToEnd(); }
};

struct UsageCase {
  std::vector<std::string> args;
  const char* message;
};

std::ostream& operator<<(std::ostream& os, const UsageCase& c) {
  os << "vorne-camsim";
  for (const std::string& a : c.args) os << " " << a;
  return os;
}

class CamsimUsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CamsimUsageTest, ExitsWithTwoAndSaysWhy) {
  Camsim camsim(GetParam().args);
  EXPECT_EQ(camsim.Exit(), 2);
  EXPECT_THAT(camsim.Stderr(), HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    BadArguments, CamsimUsageTest,
    ::testing::Values(
        UsageCase{{}, "--type is required"},
        UsageCase{{"--type", "RC20", "--pty"},
                  "unknown camera type 'RC20'; choose one of EVI_D31 (visca), PELCO_D (pelco-d), "
                  "PELCO_P (pelco-p), VIDEOTREC_PWT (videotrec), VC_C50i (canon), TAC (tac)"},
        UsageCase{{"--type", "TAC"}, "give one of --device PATH or --pty"},
        UsageCase{{"--type", "TAC", "--pty", "--device", "/dev/ttyS0"}, "excludes"},
        UsageCase{{"--type", "TAC", "--pty", "--reply", "loud"},
                  "unknown reply mode 'loud'; choose one of right, wrong-checksum, short, "
                  "silent, delayed"},
        UsageCase{{"--type", "TAC", "--device", "/dev/ttyS0", "--baud", "1234"}, "1234"},
        UsageCase{{"--type", "TAC", "--pty", "--com", "9"}, "--com"},
        UsageCase{{"--type", "TAC", "--pty", "--bogus"}, "--bogus"},
        UsageCase{{"--type", "pelco-d", "--pty", "--reply", "silent"}, "--reply is for TAC only"},
        UsageCase{{"--type", "TAC", "--device", "/dev/ttyS0", "--link", "/tmp/x"},
                  "--link names a pseudo-terminal"}));

TEST(CamsimTest, DeviceThatCannotBeOpenedExitsWithOne) {
  Camsim camsim({"--type", "visca", "--device", "/nonexistent/ttyUSB9"});
  EXPECT_EQ(camsim.Exit(), 1);
  EXPECT_THAT(camsim.Stderr(), HasSubstr("cannot open /nonexistent/ttyUSB9"));
}

// Writes `hex` to the camera's line as the module does: open, write, close.
void SendFrame(const std::string& path, const char* hex) {
  Fd client(::open(path.c_str(), O_RDWR | O_NOCTTY));
  ASSERT_TRUE(client.valid()) << path;
  const Bytes frame = *ParseHex(hex);
  ASSERT_EQ(::write(client.get(), frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
}

TEST(CamsimTest, OneFrameThroughAPseudoTerminal) {
  Camsim camsim({"--type", "pelco-d", "--pty", "--com", "3"});
  // Scripts read the first line of standard output for the device.
  const std::string environment = camsim.ReadLine(5000ms);
  ASSERT_EQ(environment.rfind("VORNE_COM3=/dev/", 0), 0u) << environment;
  const std::string path = environment.substr(std::string("VORNE_COM3=").size());

  SendFrame(path, "FF 01 00 04 20 00 25");
  std::string line;
  for (int i = 0; i < 5 && line.find(" rx ") == std::string::npos; ++i)
    line = camsim.ReadLine(5000ms);
  EXPECT_THAT(line, HasSubstr(" rx FF 01 00 04 20 00 25 | pan left, speed 0x20, address 1 | "
                              "checksum ok | pan "));
  EXPECT_THAT(line, HasSubstr("(left)"));
  EXPECT_THAT(line, ::testing::MatchesRegex("^[0-9]{4}-[0-9]{2}-[0-9]{2} "
                                            "[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z rx .*"));

  camsim.Signal(SIGINT);
  EXPECT_EQ(camsim.Exit(), 0);
  const std::string banner = camsim.Stderr();
  EXPECT_THAT(banner, HasSubstr("simulating PELCO_D (camera type 5) on " + path));
  EXPECT_THAT(banner, HasSubstr("stopped: 1 frames, 0 with a bad checksum, 0 stray bytes"));
}

TEST(CamsimTest, StrictFailsAfterABadFrameAndTheLinkNamesTheLine) {
  char folder[] = "/tmp/vorne-camsim-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string link = std::string(folder) + "/camera";
  {
    Camsim camsim({"--type", "pelco-d", "--pty", "--strict", "--link", link});
    ASSERT_EQ(camsim.ReadLine(5000ms), "VORNE_COM1=" + link);
    SendFrame(link, "FF 01 00 04 20 00 24");  // checksum one off
    EXPECT_THAT(camsim.ReadLine(5000ms), HasSubstr("checksum BAD"));
    camsim.Signal(SIGHUP);
    EXPECT_EQ(camsim.Exit(), 1);
    EXPECT_THAT(camsim.Stderr(), HasSubstr("1 with a bad checksum"));
  }
  EXPECT_EQ(::access(link.c_str(), F_OK), -1) << "the link outlived the simulator";
  ::rmdir(folder);
}

TEST(CamsimTest, TerminateEndsItCleanlyToo) {
  Camsim camsim({"--type", "TAC", "--pty", "--reply", "silent", "--strict"});
  EXPECT_THAT(camsim.ReadLine(5000ms), HasSubstr("VORNE_COM1="));
  camsim.Signal(SIGTERM);
  EXPECT_EQ(camsim.Exit(), 0);
}

}  // namespace
}  // namespace sim

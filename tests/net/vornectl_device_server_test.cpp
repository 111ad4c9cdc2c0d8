// vornectl as an installer runs it against device servers that cannot take
// the frames: the wrong scheme either way, a line another client holds, a
// server that never reads. Each run must fail, say why, and leave the
// camera as still as it was.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "ser2net_server.h"
#include "sim/runner.h"
#include "support/hostile_server.h"
#include "tools/run_program.h"

namespace {

using namespace std::chrono_literals;
using namespace vorne_test;

ProgramResult Move(const std::string& url) {
  return RunProgram(VORNECTL_PATH,
                    {"move", "--type", "PELCO_D", "--device", url, "left", "sleep", "50", "stop"});
}

// A client that holds a connection to `port` until it goes.
class HeldLine {
 public:
  explicit HeldLine(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const sockaddr_in at = Loopback(port);
    connected_ = connect(fd_, reinterpret_cast<const sockaddr*>(&at), sizeof(at)) == 0;
    std::this_thread::sleep_for(200ms);  // until the server has given it the line
  }
  ~HeldLine() { close(fd_); }
  bool Connected() const { return connected_; }

 private:
  int fd_;
  bool connected_ = false;
};

TEST(VornectlDeviceServer, AWrongSchemeFailsNamesTheRightOneAndMovesNoCamera) {
  struct Case {
    bool serverRfc2217;
    const char* scheme;  // the one the installer wrote
    const char* advice;
  };
  const Case cases[] = {
      {false, "rfc2217://", "use tcp://"},
      {true, "tcp://", "use rfc2217://"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scheme);
    auto camera = sim::Runner::OnPty(sim::Protocol::kPelcoD);
    Ser2net server({{camera->Path(), c.serverRfc2217}}, "9600n81");
    ASSERT_EQ(server.Error(), "");
    const std::string url = server.Url(0);
    const std::string wrong = c.scheme + url.substr(url.find("://") + 3);
    const ProgramResult result = Move(wrong);
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_NE((result.out + result.err).find(c.advice), std::string::npos) << result.err;
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(camera->State().Moving()) << camera->State().Describe();
  }
}

TEST(VornectlDeviceServer, ALineAnotherClientHoldsAndAServerThatNeverReadsBothFail) {
  for (const bool rfc2217 : {false, true}) {
    SCOPED_TRACE(rfc2217 ? "RFC 2217" : "raw");
    auto camera = sim::Runner::OnPty(sim::Protocol::kPelcoD);
    Ser2net server({{camera->Path(), rfc2217}}, "9600n81");
    ASSERT_EQ(server.Error(), "");
    const std::string url = server.Url(0);
    HeldLine other(std::stoi(url.substr(url.rfind(':') + 1)));
    ASSERT_TRUE(other.Connected());
    const ProgramResult result = Move(url);
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_TRUE(camera->Frames().empty()) << "the held line carried a frame";
  }
  HostileServer silent(Hostility::kNeverReads);
  const ProgramResult result = Move(silent.Url(false));
  EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
  EXPECT_NE(result.err.find("did not end the session"), std::string::npos) << result.err;
}

}  // namespace

// The network port against servers that misbehave: each frame's verdict
// (open, write, close) is held against what the server's own read()
// returned, so no test can call a frame sent that the server never took.
#include "support/hostile_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <initializer_list>

#include "platform/serial_port.h"

namespace {

using namespace std::chrono_literals;
using namespace vorne_test;
using vorne::LineSettings;
using vorne::PortResult;
using vorne::SerialPort;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// A Pelco-D stop at address 255: the 0xFF bytes show any Telnet escaping.
const Bytes kFrame = {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF};

struct Verdict {
  bool delivered = false;
  bool opened = false;
  std::string reason;
  Clock::duration took{};
};

Verdict SendFrame(const std::string& url, const Bytes& frame = kFrame) {
  Verdict verdict;
  const Clock::time_point started = Clock::now();
  SerialPort port;
  const PortResult opened = port.Open(url, LineSettings{});
  verdict.opened = opened.ok();
  PortResult written;
  PortResult closed;
  if (opened.ok()) {
    written = port.Write(frame.data(), frame.size());
    closed = port.Close();
  }
  verdict.delivered = opened.ok() && written.ok() && closed.ok();
  for (const PortResult* r : std::initializer_list<const PortResult*>{&opened, &written, &closed}) {
    if (!r->ok()) verdict.reason += r->reason + "; ";
  }
  verdict.took = Clock::now() - started;
  return verdict;
}

bool Holds(const Bytes& data, const Bytes& frame) {
  return std::search(data.begin(), data.end(), frame.begin(), frame.end()) != data.end();
}

// kTurnedAway: a server that never reads; its refusal is heard at the open
// when it comes in time, else at the close.
enum class Expect { kDelivered, kFailsBeforeData, kTurnedAway, kFails };

TEST(HostileServer, EachFramesVerdictMatchesWhatTheServerRead) {
  struct Case {
    Hostility mode;
    bool rfc2217;
    Expect expect;
    const char* reason;  // part of the failure's reason
  };
  const Case cases[] = {
      {Hostility::kPolite, false, Expect::kDelivered, ""},
      {Hostility::kTelnet, true, Expect::kDelivered, ""},
      {Hostility::kGarbageTelnet, true, Expect::kDelivered, ""},
      {Hostility::kFlood, false, Expect::kDelivered, ""},
      {Hostility::kFlood, true, Expect::kFailsBeforeData, "use tcp://"},
      {Hostility::kNeverReads, false, Expect::kFails, "did not end the session"},
      {Hostility::kNeverReads, true, Expect::kFailsBeforeData, "use tcp://"},
      {Hostility::kNeverEnds, false, Expect::kFails, "did not end the session"},
      {Hostility::kOneByteHangUp, false, Expect::kFails, "not known to have reached"},
      {Hostility::kResets, false, Expect::kTurnedAway, "reset the connection"},
      {Hostility::kRefuses, false, Expect::kTurnedAway, "(it sent 50 6F 72 74"},
      {Hostility::kRefuses, true, Expect::kFailsBeforeData, "held by another client"},
      {Hostility::kTelnetGreeting, false, Expect::kFails, "use rfc2217://"},
      {Hostility::kPolite, true, Expect::kFailsBeforeData, "use tcp://"},
      {Hostility::kSettingsUnanswered, true, Expect::kFailsBeforeData, "not known to be in force"},
  };
  for (const Case& c : cases) {
    const std::string what =
        std::string(HostilityName(c.mode)) + (c.rfc2217 ? " over RFC 2217" : " raw");
    SCOPED_TRACE(what);
    HostileServer server(c.mode);
    const Verdict verdict = SendFrame(server.Url(c.rfc2217));
    // The bound is 300 ms a step; a loaded machine or the sanitizers may
    // take several times that.
    EXPECT_LT(verdict.took, 5s);
    server.WaitForEnded(1, 500);
    Bytes data;
    for (const HostileServer::Session& s : server.Sessions()) {
      data.insert(data.end(), s.data.begin(), s.data.end());
    }
    if (verdict.delivered) {
      EXPECT_TRUE(Holds(data, kFrame)) << "reported sent, never read";
    }
    switch (c.expect) {
      case Expect::kDelivered: EXPECT_TRUE(verdict.delivered) << verdict.reason; break;
      case Expect::kFailsBeforeData:
        EXPECT_FALSE(verdict.opened) << "the open should have failed";
        [[fallthrough]];
      case Expect::kTurnedAway:
        EXPECT_FALSE(Holds(data, {0x00, 0x00, 0x00, 0x00})) << "frame bytes reached the server";
        [[fallthrough]];
      case Expect::kFails:
        EXPECT_FALSE(verdict.delivered);
        EXPECT_NE(verdict.reason.find(c.reason), std::string::npos) << verdict.reason;
        break;
    }
  }
}

TEST(HostileServer, AWrongSchemeIsRememberedSoLaterFramesFailBeforeAnyByte) {
  for (const bool rfc2217 : {false, true}) {
    SCOPED_TRACE(rfc2217 ? "rfc2217:// at a raw port" : "tcp:// at a Telnet port");
    HostileServer server(rfc2217 ? Hostility::kPolite : Hostility::kTelnet);
    const Verdict first = SendFrame(server.Url(rfc2217));
    EXPECT_FALSE(first.delivered);
    server.WaitForEnded(1, 1000);
    const std::size_t sessions = server.Sessions().size();
    const Verdict second = SendFrame(server.Url(rfc2217));
    EXPECT_FALSE(second.delivered);
    EXPECT_EQ(second.reason, first.reason);
    EXPECT_EQ(server.Sessions().size(), sessions) << "the second frame connected again";
    // Another name for the same server is judged afresh.
    const Verdict other = SendFrame(server.Url(rfc2217) + "?connect_timeout_ms=400");
    EXPECT_FALSE(other.delivered);
    EXPECT_GT(server.Sessions().size(), sessions);
  }
}

TEST(HostileServer, SessionsDroppedAtRandomNeverCountAsSent) {
  for (const unsigned seed : {7u, 11u}) {
    HostileServer server(Hostility::kRandomDrops, seed);
    int delivered = 0;
    constexpr int kFrames = 40;
    for (int i = 0; i < kFrames; ++i) {
      const std::size_t before = server.Sessions().size();
      const Verdict verdict = SendFrame(server.Url(false));
      if (!verdict.delivered) continue;
      ++delivered;
      // The frame's own session read it whole.
      const auto sessions = server.Sessions();
      ASSERT_GT(sessions.size(), before);
      EXPECT_EQ(sessions.back().data, kFrame) << "frame " << i << " reported sent";
    }
    EXPECT_GT(delivered, 0);
    EXPECT_LT(delivered, kFrames);
  }
}

// Memory is judged in the plain build only: the sanitizers keep their own.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(1 << 10, '\n');
  }
  return 0;
}

TEST(HostileServer, AFloodNeitherHoldsAFrameNorGrowsMemory) {
  if (kSanitized) GTEST_SKIP() << "the sanitizers' own memory hides the port's";
  for (const bool rfc2217 : {false, true}) {
    HostileServer server(Hostility::kFlood);
    SendFrame(server.Url(rfc2217));
    const long before = ResidentKiB();
    for (int i = 0; i < 10; ++i) {
      const Verdict verdict =
          SendFrame(server.Url(rfc2217) + "?connect_timeout_ms=" + std::to_string(300 + i));
      EXPECT_LT(verdict.took, 3s) << i;
    }
    EXPECT_LT(ResidentKiB() - before, 8 * 1024) << "KiB grown over ten flooded frames";
  }
}

}  // namespace

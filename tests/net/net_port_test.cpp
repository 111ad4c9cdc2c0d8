// Port names and the Telnet client's codec, apart from any socket.
#include "platform/net_port.h"

#include <gtest/gtest.h>

using namespace vorne;

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(NetAddress, NamesAreReadOrRefusedWithTheirFault) {
  struct Case {
    const char* path;
    bool ok;
    bool rfc2217;
    const char* host;
    int port;
    int timeoutMs;
  };
  const Case cases[] = {
      {"tcp://10.0.0.5:4001", true, false, "10.0.0.5", 4001, kDefaultConnectTimeoutMs},
      {"rfc2217://host.site:2217?connect_timeout_ms=1500", true, true, "host.site", 2217, 1500},
      {"tcp://[::1]:7000", true, false, "::1", 7000, kDefaultConnectTimeoutMs},
      {"tcp://10.0.0.5", false, false, "", 0, 0},
      {"tcp://:4001", false, false, "", 0, 0},
      {"tcp://10.0.0.5:0", false, false, "", 0, 0},
      {"tcp://10.0.0.5:65536", false, false, "", 0, 0},
      {"tcp://10.0.0.5:40x1", false, false, "", 0, 0},
      {"rfc2217://h:1?connect_timeout_ms=0", false, false, "", 0, 0},
      {"rfc2217://h:1?timeout=5", false, false, "", 0, 0},
      {"/dev/ttyS0", false, false, "", 0, 0},
      // Characters no host name or address holds never reach the resolver.
      {"tcp://host\nCOM1 open:4001", false, false, "", 0, 0},
      {"tcp://ho st:4001", false, false, "", 0, 0},
      {"tcp://user@host:4001", false, false, "", 0, 0},
      {"tcp://h\xc3\xa9:4001", false, false, "", 0, 0},
      {"tcp://[fe80::1%eth0]:4001", true, false, "fe80::1%eth0", 4001, kDefaultConnectTimeoutMs},
      {"tcp://[::1 ]:4001", false, false, "", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string error;
    const std::optional<NetAddress> address = ParseNetAddress(c.path, &error);
    ASSERT_EQ(address.has_value(), c.ok) << error;
    if (!c.ok) {
      EXPECT_NE(error, "");
      continue;
    }
    EXPECT_EQ(address->rfc2217, c.rfc2217);
    EXPECT_EQ(address->host, c.host);
    EXPECT_EQ(address->port, c.port);
    EXPECT_EQ(address->connectTimeoutMs, c.timeoutMs);
  }
  std::string error;
  EXPECT_FALSE(ParseNetAddress("tcp://" + std::string(300, 'a') + ":1", &error));
  EXPECT_LT(error.size(), 80u) << "the name is not echoed";
  EXPECT_FALSE(IsNetPath("/dev/ttyUSB0"));
  EXPECT_TRUE(IsNetPath("rfc2217://x:1"));
}

TEST(TelnetClient, DoublesEveryFFOnTheWayOut) {
  Bytes out;
  const Bytes frame = {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF};
  TelnetClient::Escape(frame.data(), frame.size(), &out);
  EXPECT_EQ(out, (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF}));
}

TEST(TelnetClient, DecodesDataAnswersOptionsOnceAndKeepsTheServersAnswers) {
  // ser2net's greeting, a settings answer split across reads, a modem
  // notification, and data with a doubled FF.
  const Bytes greeting = {255, 251, 3,   255, 253, 3,   255, 251, 1,   255, 254,
                          1,   255, 253, 0,   255, 251, 0,   255, 253, 44};
  const Bytes answer = {255, 250, 44, 101, 0, 0, 9, 96, 255, 240};
  const Bytes rest = {255, 250, 44, 107, 0, 255, 240, 0x10, 255, 255, 0x20};
  TelnetClient client;
  Bytes data;
  Bytes answers;
  client.Feed(greeting.data(), greeting.size(), &data, &answers);
  EXPECT_TRUE(client.ComPortAgreed());
  // SGA and ECHO refused, binary agreed both ways, COM-PORT not answered
  // twice (the hello offered it).
  EXPECT_EQ(answers, (Bytes{255, 254, 3, 255, 252, 3, 255, 254, 1, 255, 251, 0, 255, 253, 0}));
  answers.clear();
  client.Feed(greeting.data(), greeting.size(), &data, &answers);
  EXPECT_EQ(answers, Bytes{}) << "a repeated offer is not answered again";
  client.Feed(answer.data(), 5, &data, &answers);
  EXPECT_FALSE(client.Answer(telnet::kSetBaudRate));
  client.Feed(answer.data() + 5, answer.size() - 5, &data, &answers);
  EXPECT_EQ(client.Answer(telnet::kSetBaudRate), 2400U);
  client.Feed(rest.data(), rest.size(), &data, &answers);
  EXPECT_EQ(data, (Bytes{0x10, 0xFF, 0x20}));
  // A purge answer drops what came before it, not what follows.
  const Bytes purged = {255, 250, 44, 112, 1, 255, 240, 0x33};
  client.Feed(purged.data(), purged.size(), &data, &answers);
  EXPECT_EQ(data, Bytes{0x33});
  EXPECT_EQ(client.Purges(), 1);
}

}  // namespace

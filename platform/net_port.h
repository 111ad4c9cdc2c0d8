// A COM port on a serial device server, reached over TCP: either the raw
// socket (the line's bytes as they are) or RFC 2217, Telnet's
// COM-PORT-OPTION, where the line settings travel over the same
// connection and data bytes 0xFF are doubled. The port names are
//   tcp://HOST:PORT[?connect_timeout_ms=N]
//   rfc2217://HOST:PORT[?connect_timeout_ms=N]
// Everything here but the socket calls is the same on every system; those
// come from the backend (socket_<system>.cpp).
#ifndef VORNE_PLATFORM_NET_PORT_H
#define VORNE_PLATFORM_NET_PORT_H

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial_port.h"

namespace vorne {

inline constexpr int kDefaultConnectTimeoutMs = 300;
// Beyond the bytes' line time and a round trip, what the server's own
// handing on to the line may take before it may end the session.
inline constexpr std::chrono::microseconds kServerLineMargin{2000};
// What a session keeps of the server's data: a camera's answers are a few
// bytes, so anything beyond is a flood, read and dropped.
inline constexpr std::size_t kInputLimit = 4096;
// How long a port name found to speak the other scheme keeps that verdict.
inline constexpr std::chrono::seconds kSchemeVerdictTime{30};

struct NetAddress {
  bool rfc2217 = false;  // else raw TCP
  std::string host;
  std::uint16_t port = 0;
  int connectTimeoutMs = kDefaultConnectTimeoutMs;
  std::string name;  // the port name as given
};

// Whether `path` names a network port at all (by its scheme).
bool IsNetPath(std::string_view path);
// The address in `path`; null with `error` saying what is wrong.
std::optional<NetAddress> ParseNetAddress(std::string_view path, std::string* error);

// Telnet's byte codes and the COM-PORT-OPTION commands the client uses.
namespace telnet {
inline constexpr std::uint8_t kSe = 240;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kComPort = 44;
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kPurgeData = 12;
inline constexpr std::uint8_t kPurgeReceived = 1;  // the server's buffer of line input
inline constexpr std::uint8_t kServerReply = 100;  // added to a command in its answer
}  // namespace telnet

// The client side of a Telnet connection carrying COM-PORT-OPTION. It
// agrees to binary transfer both ways and to COM-PORT-OPTION, refuses
// every other option once, and keeps the server's answers to the settings
// and the purge; notifications of line and modem state are skipped.
class TelnetClient {
 public:
  // What opens the negotiation: the client will speak COM-PORT-OPTION.
  static std::vector<std::uint8_t> Hello();
  // Appends `count` data bytes with every 0xFF doubled.
  static void Escape(const std::uint8_t* bytes, std::size_t count, std::vector<std::uint8_t>* out);
  // Appends the four settings commands for `settings`.
  static void AppendSettings(const LineSettings& settings, std::vector<std::uint8_t>* out);
  // Appends a purge of the server's received data.
  static void AppendPurge(std::vector<std::uint8_t>* out);

  // Takes received bytes in chunks of any size: data goes to `data`,
  // answers owed to the server's negotiation go to `answers`. The answer
  // to a purge drops the data in `data` that came before it.
  void Feed(const std::uint8_t* bytes, std::size_t count, std::vector<std::uint8_t>* data,
            std::vector<std::uint8_t>* answers);

  bool ComPortAgreed() const { return comPort_ == Agreement::kYes; }
  // Whether the server has sent any Telnet command at all.
  bool Negotiated() const { return negotiated_; }
  bool ComPortRefused() const { return comPort_ == Agreement::kNo; }
  // The server's answer to SET-BAUDRATE .. SET-STOPSIZE (index 1..4), with
  // the value it put in force.
  std::optional<std::uint32_t> Answer(std::uint8_t command) const { return answers_[command]; }
  void ForgetAnswers() { answers_ = {}; }
  // Purge answers seen so far.
  int Purges() const { return purges_; }

 private:
  enum class State { kData, kIac, kOption, kSub, kSubIac };
  enum class Agreement { kOpen, kYes, kNo };
  void Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>* answers);
  // True for the answer to a purge.
  bool SubNegotiation();

  State state_ = State::kData;
  std::uint8_t verb_ = 0;
  std::vector<std::uint8_t> sub_;
  Agreement comPort_ = Agreement::kOpen;
  bool negotiated_ = false;
  // Options each side runs, so that an option is answered only when its
  // state changes and negotiation cannot loop.
  std::array<bool, 256> ours_{};
  std::array<bool, 256> theirs_{};
  std::array<bool, 256> refusedOurs_{};
  std::array<bool, 256> refusedTheirs_{};
  std::array<std::optional<std::uint32_t>, 5> answers_{};
  int purges_ = 0;
};

// The socket calls of the backend. A handle is the system's socket.
namespace net_socket {
using Deadline = std::chrono::steady_clock::time_point;
// Connects without blocking beyond `deadline`; TCP_NODELAY set. Refused
// or unreachable is kNoDevice, no answer in time is kBusy, and so is a
// server that reset the connection as it took it, which sets `reset`.
PortResult Connect(const NetAddress& address, Deadline deadline, std::intptr_t* handle,
                   bool* reset);
// Sends every byte, never raising SIGPIPE, waiting for room until
// `deadline`. A connection the server has ended or reset sets `gone`.
PortResult Send(std::intptr_t handle, const std::uint8_t* bytes, std::size_t count,
                Deadline deadline, bool* gone);
// What one receive saw of the connection's end.
struct Ending {
  bool closed = false;  // the server ended its side (its FIN)
  bool reset = false;   // the connection was reset or aborted
};
// Appends what has arrived to `out`, waiting for the first byte until
// `deadline` (not at all when it has passed). Reads at most `limit`
// bytes, so a flood cannot hold the caller.
PortResult Receive(std::intptr_t handle, Deadline deadline, std::size_t limit,
                   std::vector<std::uint8_t>* out, Ending* ending);
// Ends the client's side of the connection; the server's side stays open.
bool HalfClose(std::intptr_t handle);
// Closes; `abort` drops what has not been sent.
void Close(std::intptr_t handle, bool abort);
}  // namespace net_socket

// The network port behind a SerialPort whose device is a URL: one
// connection per open, as a frame opens the port.
class NetPort {
 public:
  NetPort() = default;
  NetPort(const NetPort&) = delete;
  NetPort& operator=(const NetPort&) = delete;
  ~NetPort() { Close(); }

  // Connects, and on RFC 2217 puts `settings` in force and drops the
  // server's old input; all within the connect bound. A server that
  // speaks the other scheme, or leaves the settings unanswered, fails
  // before any data byte is sent.
  PortResult Open(const NetAddress& address, const LineSettings& settings);
  PortResult Configure(const LineSettings& settings);
  // Sends every byte within the connect bound. Whether the server took
  // them is known only at Close.
  PortResult Write(const std::uint8_t* bytes, std::size_t count);
  PortResult Waiting(std::size_t* count);
  PortResult Read(std::size_t max, std::vector<std::uint8_t>* out);
  PortResult DiscardInput();
  // Ends the session. After data was written, a failure unless the server
  // answered the end of the session with its own, without a reset, once
  // the bytes' time on the line had passed: only then has it read them.
  PortResult Close();
  bool IsOpen() const { return handle_ != kNoHandle; }

 private:
  static constexpr std::intptr_t kNoHandle = -1;
  // One connection attempt of Open.
  PortResult Connect(const LineSettings& settings, net_socket::Deadline deadline);
  // Takes what has arrived, waiting until `deadline` for the first byte.
  PortResult Pump(net_socket::Deadline deadline);
  // Sends on the session; a server that has gone is noted as such.
  PortResult Put(const std::uint8_t* bytes, std::size_t count, net_socket::Deadline deadline);
  // The verdict on the session as Close ends it.
  PortResult EndSession();
  // The server's end, with the first bytes it sent, for a reason text.
  std::string Ended(std::string_view what) const;
  // Sends `settings` and waits for their answers until `deadline`.
  PortResult Settle(const LineSettings& settings, bool purge, net_socket::Deadline deadline);
  std::string Where() const;

  NetAddress address_;
  std::intptr_t handle_ = kNoHandle;
  TelnetClient telnet_;
  std::vector<std::uint8_t> input_;  // data received, not yet read
  std::vector<std::uint8_t> scratch_;
  std::vector<std::uint8_t> decoded_;
  // The first bytes a raw server sent in this session, to tell a Telnet
  // greeting.
  std::vector<std::uint8_t> greeting_;
  LineSettings settings_;
  bool closedByServer_ = false;
  bool reset_ = false;
  bool unsent_ = false;
  bool heardOut_ = false;    // a raw port known not to greet with Telnet
  std::size_t written_ = 0;  // data bytes handed over in this session
  std::size_t dropped_ = 0;  // server bytes beyond what a session keeps
  std::chrono::steady_clock::duration roundTrip_{};
  // When the last bytes written have left the server's line.
  std::chrono::steady_clock::time_point lineFreeAt_{};
};

}  // namespace vorne

#endif

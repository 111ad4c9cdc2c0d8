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
// Beyond the bytes' line time, what the way to the server and its own
// handing on to the line may take.
inline constexpr std::int64_t kServerLineMarginMs = 25;

struct NetAddress {
  bool rfc2217 = false;  // else raw TCP
  std::string host;
  std::uint16_t port = 0;
  int connectTimeoutMs = kDefaultConnectTimeoutMs;
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
// or unreachable is kNoDevice, no answer in time is kBusy.
PortResult Connect(const NetAddress& address, Deadline deadline, std::intptr_t* handle);
// Sends every byte, never raising SIGPIPE, waiting for room until `deadline`.
PortResult Send(std::intptr_t handle, const std::uint8_t* bytes, std::size_t count,
                Deadline deadline);
// Appends what has arrived, waiting for the first byte until `deadline`
// (not at all when it has passed). `closed` is set when the server ended
// the connection.
PortResult Receive(std::intptr_t handle, Deadline deadline, std::vector<std::uint8_t>* out,
                   bool* closed);
// Says the client is done and waits until `deadline` for the server to
// end the connection, dropping what it still sends.
void Finish(std::intptr_t handle, Deadline deadline);
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
  // server's old input; all within the connect bound. Settings the server
  // does not acknowledge in time are named in the result's note.
  PortResult Open(const NetAddress& address, const LineSettings& settings);
  PortResult Configure(const LineSettings& settings);
  // Sends every byte within the connect bound. Close then waits for the
  // server to end the session, which it does once it has read them all.
  PortResult Write(const std::uint8_t* bytes, std::size_t count);
  PortResult Waiting(std::size_t* count);
  PortResult Read(std::size_t max, std::vector<std::uint8_t>* out);
  PortResult DiscardInput();
  void Close();
  bool IsOpen() const { return handle_ != kNoHandle; }

 private:
  static constexpr std::intptr_t kNoHandle = -1;
  // One connection attempt of Open.
  PortResult Connect(const LineSettings& settings, net_socket::Deadline deadline);
  // Takes what has arrived, waiting until `deadline` for the first byte.
  PortResult Pump(net_socket::Deadline deadline);
  // Sends `settings` and waits for their answers until `deadline`.
  PortResult Settle(const LineSettings& settings, bool purge, net_socket::Deadline deadline);
  std::string Where() const;

  NetAddress address_;
  std::intptr_t handle_ = kNoHandle;
  TelnetClient telnet_;
  std::vector<std::uint8_t> input_;  // data received, not yet read
  std::vector<std::uint8_t> scratch_;
  LineSettings settings_;
  bool closedByServer_ = false;
  bool unsent_ = false;
  // When the last bytes written have left the server's line.
  std::chrono::steady_clock::time_point lineFreeAt_{};
};

}  // namespace vorne

#endif

// A serial port of the operating system, as the communications control
// uses it: opened exclusively and raw with fresh input, written in full
// within the bytes' time on the line, read without waiting, drained when
// closed.
#ifndef VORNE_PLATFORM_SERIAL_PORT_H
#define VORNE_PLATFORM_SERIAL_PORT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorne {

// Line settings: baud rate, parity, data bits and stop bits.
struct LineSettings {
  std::int32_t baud = 9600;
  char parity = 'n';  // n, e, o, m (mark) or s (space)
  std::int32_t dataBits = 8;
  std::int32_t stopBits = 1;

  friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// Reads "baud,parity,data,stop" ("9600,n,8,1"); spaces around the fields
// and upper-case parity letters are accepted. Null when a field is missing,
// not a number, or out of its range, or when the device layer cannot run
// the baud rate.
std::optional<LineSettings> ParseLineSettings(std::u16string_view text);

// "9600,n,8,1".
std::string FormatLineSettings(const LineSettings& settings);

// The line time of `count` bytes at `baud`, in whole milliseconds rounded
// up: start bit, 8 data bits, parity and 2 stop bits at most.
std::int64_t LineMilliseconds(std::size_t count, std::int32_t baud);

enum class PortStatus {
  kOk,
  kNoDevice,  // the device does not exist or cannot be opened
  kBusy,      // another program holds the port
  kRefused,   // the device does not take the line settings
  kIoError,   // a transfer failed or timed out
};

struct PortResult {
  PortResult() = default;
  PortResult(PortStatus failure, std::string why) : status(failure), reason(std::move(why)) {}

  PortStatus status = PortStatus::kOk;
  // The operating system's reason, for the wire trace.
  std::string reason;
  // Worth a trace line though the call worked (a network port's server
  // that did not confirm the line settings).
  std::string note;

  bool ok() const { return status == PortStatus::kOk; }
};

class NetPort;

class SerialPort {
 public:
  SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  // Closes (and drains) the port if it is still open.
  ~SerialPort();

  // The device of port `number` (1-based): the one named by the
  // environment variable VORNE_COM<number> when set, else the system's
  // device for that port.
  static std::string DevicePath(int number);

  // Whether the device layer can run a line at `baud`.
  static bool SupportsRate(std::int32_t baud);

  // Opens `path` for exclusive use, without waiting for modem lines and
  // without becoming the caller's controlling terminal, and applies
  // `settings` in raw mode. Another program's hold on the port is waited
  // for about two frames' time; a terminal program's lock file of the
  // device, held for a whole session, is not. The busy reason names the
  // holder where the system tells it. Input waiting from before is dropped.
  PortResult Open(const std::string& path, const LineSettings& settings);
  // Applies `settings` to the open line unless they are in force already.
  PortResult Configure(const LineSettings& settings);
  // Writes every byte and waits until they have left, within their time on
  // the line plus a small margin; a line that does not take them fails.
  PortResult Write(const std::uint8_t* bytes, std::size_t count);
  // Number of received bytes waiting.
  PortResult Waiting(std::size_t* count);
  // Appends up to `max` waiting bytes to `out` without blocking.
  PortResult Read(std::size_t max, std::vector<std::uint8_t>* out);
  // Drops the received bytes not yet read.
  PortResult DiscardInput();
  // Lets the bytes written go out, then releases the device. A failure
  // when the port learns only now that bytes written did not arrive (a
  // device server that did not confirm them); the port is closed anyway.
  PortResult Close();

  bool IsOpen() const { return handle_ != kNoHandle || net_ != nullptr; }

 private:
  // A device named tcp://HOST:PORT or rfc2217://HOST:PORT is a port on a
  // device server; while it is open, net_ does the work (net_port.cpp).
  PortResult OpenNet(const std::string& path, const LineSettings& settings);
  std::unique_ptr<NetPort> net_;

  static constexpr std::intptr_t kNoHandle = -1;
  std::intptr_t handle_ = kNoHandle;
  LineSettings settings_;  // in force on the open line
  bool unsent_ = false;    // the last write did not leave
};

}  // namespace vorne

#endif

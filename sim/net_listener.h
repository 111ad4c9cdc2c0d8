// A simulated camera behind a device server of its own: a TCP socket that
// passes bytes to and from the camera's pseudo-terminal, raw or with the
// server side of RFC 2217 (Telnet COM-PORT-OPTION), whose line settings are
// put on the pseudo-terminal. Connections are served one after another; the
// terminal is opened for each and its settings restored when it ends, as
// ser2net does.
#ifndef VORNE_SIM_NET_LISTENER_H
#define VORNE_SIM_NET_LISTENER_H

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/fd.h"

namespace sim {

struct ListenAddress {
  bool rfc2217 = false;
  std::string host;  // a numeric address
  int port = 0;      // 0: any free port
};

// "tcp://127.0.0.1:0" or "rfc2217://127.0.0.1:4001"; null with `error`.
std::optional<ListenAddress> ParseListenAddress(std::string_view url, std::string* error);

// The server side of RFC 2217 on one connection.
class TelnetServer {
 public:
  // What the server says first: binary both ways and COM-PORT-OPTION.
  static std::vector<std::uint8_t> Hello();
  static void Escape(const std::uint8_t* bytes, std::size_t count, std::vector<std::uint8_t>* out);
  // Decodes bytes from the client: data to `data`, replies to `replies`;
  // settings and purges act on the terminal `line`.
  void Feed(const std::uint8_t* bytes, std::size_t count, int line, std::vector<std::uint8_t>* data,
            std::vector<std::uint8_t>* replies);

 private:
  enum class State { kData, kIac, kOption, kSub, kSubIac };
  void Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>* replies);
  void Command(int line, std::vector<std::uint8_t>* data, std::vector<std::uint8_t>* replies);

  State state_ = State::kData;
  std::uint8_t verb_ = 0;
  std::vector<std::uint8_t> sub_;
  bool ours_[256] = {};    // options the server runs (or asked to)
  bool theirs_[256] = {};  // options the client runs (or was asked to)
};

class NetListener {
 public:
  // Listens at `address` for the terminal at `ptyPath`. Throws
  // std::runtime_error with the reason when it cannot.
  NetListener(const ListenAddress& address, std::string ptyPath);
  ~NetListener();
  NetListener(const NetListener&) = delete;
  NetListener& operator=(const NetListener&) = delete;

  // The URL clients use, with the port actually bound.
  const std::string& Url() const { return url_; }

 private:
  void Loop();
  void Serve(int client);

  const bool rfc2217_;
  const std::string ptyPath_;
  std::string url_;
  Fd listen_;
  Fd wakeRead_;
  Fd wakeWrite_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace sim

#endif

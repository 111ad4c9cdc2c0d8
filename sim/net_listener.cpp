#include "sim/net_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace sim {
namespace {

constexpr std::uint8_t kSe = 240, kSb = 250, kWill = 251, kWont = 252, kDo = 253, kDont = 254,
                       kIac = 255;
constexpr std::uint8_t kBinary = 0, kSga = 3, kComPort = 44;
enum : std::uint8_t {
  kSetBaud = 1,
  kSetDataSize,
  kSetParity,
  kSetStopSize,
  kSetControl,
  kFlowSuspend = 8,
  kFlowResume,
  kLineStateMask,
  kModemStateMask,
  kPurge
};

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

struct Rate {
  std::uint32_t baud;
  speed_t code;
};
constexpr Rate kRates[] = {{1200, B1200},   {2400, B2400},     {4800, B4800},
                           {9600, B9600},   {19200, B19200},   {38400, B38400},
                           {57600, B57600}, {115200, B115200}, {230400, B230400}};

std::uint32_t BaudOf(speed_t code) {
  for (const Rate& r : kRates) {
    if (r.code == code) return r.baud;
  }
  return 0;
}

// Puts one setting on the terminal and says what is in force now (the
// asked-for value 0 only asks).
std::uint32_t Apply(int line, std::uint8_t command, std::uint32_t value) {
  termios tio{};
  if (::tcgetattr(line, &tio) != 0) return value;
  bool changed = false;
  switch (command) {
    case kSetBaud:
      for (const Rate& r : kRates) {
        if (r.baud == value) {
          ::cfsetispeed(&tio, r.code);
          ::cfsetospeed(&tio, r.code);
          changed = true;
        }
      }
      break;
    case kSetDataSize:
      if (value >= 5 && value <= 8) {
        constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
        tio.c_cflag = (tio.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | kSizes[value - 5];
        changed = true;
      }
      break;
    case kSetParity:
      if (value >= 1 && value <= 3) {
        tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
        if (value == 2) tio.c_cflag |= PARENB | PARODD;
        if (value == 3) tio.c_cflag |= PARENB;
        changed = true;
      }
      break;
    case kSetStopSize:
      if (value == 1 || value == 2) {
        tio.c_cflag =
            value == 2 ? tio.c_cflag | CSTOPB : tio.c_cflag & ~static_cast<tcflag_t>(CSTOPB);
        changed = true;
      }
      break;
    default: return value;
  }
  if (changed) ::tcsetattr(line, TCSANOW, &tio);
  ::tcgetattr(line, &tio);
  switch (command) {
    case kSetBaud: return BaudOf(::cfgetospeed(&tio));
    case kSetDataSize: {
      const tcflag_t size = tio.c_cflag & CSIZE;
      return size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    }
    case kSetParity: return (tio.c_cflag & PARENB) == 0 ? 1 : (tio.c_cflag & PARODD) != 0 ? 2 : 3;
    default: return (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
  }
}

bool SendAll(int fd, const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::send(fd, bytes, count, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::optional<ListenAddress> ParseListenAddress(std::string_view url, std::string* error) {
  ListenAddress address;
  if (url.starts_with("tcp://")) {
    url.remove_prefix(6);
  } else if (url.starts_with("rfc2217://")) {
    address.rfc2217 = true;
    url.remove_prefix(10);
  } else {
    *error = "expected tcp://HOST:PORT or rfc2217://HOST:PORT";
    return std::nullopt;
  }
  const std::size_t colon = url.rfind(':');
  in_addr probe{};
  if (colon == std::string_view::npos ||
      ::inet_pton(AF_INET, std::string(url.substr(0, colon)).c_str(), &probe) != 1) {
    *error = "expected a numeric IPv4 HOST and a PORT";
    return std::nullopt;
  }
  address.host = std::string(url.substr(0, colon));
  const std::string port(url.substr(colon + 1));
  char* end = nullptr;
  const long number = std::strtol(port.c_str(), &end, 10);
  if (port.empty() || *end != '\0' || number < 0 || number > 65535) {
    *error = "the port is not a number from 0 to 65535";
    return std::nullopt;
  }
  address.port = static_cast<int>(number);
  return address;
}

// ---- Telnet, the server's side ----

std::vector<std::uint8_t> TelnetServer::Hello() {
  return {kIac, kDo, kBinary, kIac, kWill, kBinary, kIac, kDo, kComPort};
}

void TelnetServer::Escape(const std::uint8_t* bytes, std::size_t count,
                          std::vector<std::uint8_t>* out) {
  for (std::size_t i = 0; i < count; ++i) {
    out->push_back(bytes[i]);
    if (bytes[i] == kIac) out->push_back(kIac);
  }
}

void TelnetServer::Feed(const std::uint8_t* bytes, std::size_t count, int line,
                        std::vector<std::uint8_t>* data, std::vector<std::uint8_t>* replies) {
  if (!ours_[kBinary]) {
    // What Hello asked for counts as asked.
    ours_[kBinary] = theirs_[kBinary] = theirs_[kComPort] = true;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t b = bytes[i];
    switch (state_) {
      case State::kData:
        if (b == kIac) {
          state_ = State::kIac;
        } else {
          data->push_back(b);
        }
        break;
      case State::kIac:
        state_ = State::kData;
        if (b == kIac) {
          data->push_back(b);
        } else if (b >= kWill) {
          verb_ = b;
          state_ = State::kOption;
        } else if (b == kSb) {
          sub_.clear();
          state_ = State::kSub;
        }
        break;
      case State::kOption:
        Negotiate(verb_, b, replies);
        state_ = State::kData;
        break;
      case State::kSub:
        if (b == kIac) {
          state_ = State::kSubIac;
        } else if (sub_.size() < 64) {
          sub_.push_back(b);
        }
        break;
      case State::kSubIac:
        if (b == kIac) {
          if (sub_.size() < 64) sub_.push_back(b);
          state_ = State::kSub;
        } else {
          Command(line, data, replies);
          state_ = State::kData;
        }
        break;
    }
  }
}

void TelnetServer::Negotiate(std::uint8_t verb, std::uint8_t option,
                             std::vector<std::uint8_t>* replies) {
  const auto reply = [&](std::uint8_t answer) {
    replies->insert(replies->end(), {kIac, answer, option});
  };
  const bool serverRuns = option == kBinary || option == kSga;
  const bool clientRuns = option == kBinary || option == kSga || option == kComPort;
  switch (verb) {
    case kDo:
      if (serverRuns && !ours_[option]) reply(kWill);
      if (!serverRuns) reply(kWont);
      ours_[option] = serverRuns;
      break;
    case kDont:
      if (ours_[option]) reply(kWont);
      ours_[option] = false;
      break;
    case kWill:
      if (clientRuns && !theirs_[option]) reply(kDo);
      if (!clientRuns) reply(kDont);
      theirs_[option] = clientRuns;
      break;
    default:  // WONT
      if (theirs_[option]) reply(kDont);
      theirs_[option] = false;
      break;
  }
}

void TelnetServer::Command(int line, std::vector<std::uint8_t>* data,
                           std::vector<std::uint8_t>* replies) {
  if (sub_.size() < 2 || sub_[0] != kComPort) return;
  const std::uint8_t command = sub_[1];
  std::uint32_t value = 0;
  for (std::size_t i = 2; i < sub_.size(); ++i) value = value << 8 | sub_[i];
  std::vector<std::uint8_t> answer(sub_.begin() + 2, sub_.end());
  switch (command) {
    case kSetBaud:
    case kSetDataSize:
    case kSetParity:
    case kSetStopSize: {
      const std::uint32_t now = Apply(line, command, value);
      if (command == kSetBaud) {
        answer = {static_cast<std::uint8_t>(now >> 24), static_cast<std::uint8_t>(now >> 16),
                  static_cast<std::uint8_t>(now >> 8), static_cast<std::uint8_t>(now)};
      } else {
        answer = {static_cast<std::uint8_t>(now)};
      }
      break;
    }
    case kPurge:
      // 1: what came from the line and is not yet with the client.
      if (value == 1 || value == 3) {
        ::tcflush(line, TCIFLUSH);
        data->clear();
      }
      if (value == 2 || value == 3) ::tcflush(line, TCOFLUSH);
      break;
    case kSetControl:  // a pseudo-terminal has no modem lines: agreed as asked
    case kLineStateMask:
    case kModemStateMask: break;
    default: return;  // flow control suspend/resume and unknowns: no answer
  }
  replies->insert(replies->end(), {kIac, kSb, kComPort, static_cast<std::uint8_t>(command + 100)});
  Escape(answer.data(), answer.size(), replies);
  replies->insert(replies->end(), {kIac, kSe});
}

// ---- the listener ----

NetListener::NetListener(const ListenAddress& address, std::string ptyPath)
    : rfc2217_(address.rfc2217), ptyPath_(std::move(ptyPath)) {
  listen_ = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listen_.valid()) throw std::runtime_error(SystemError("cannot make a socket"));
  const int on = 1;
  ::setsockopt(listen_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(static_cast<std::uint16_t>(address.port));
  ::inet_pton(AF_INET, address.host.c_str(), &at.sin_addr);
  const std::string where = address.host + ":" + std::to_string(address.port);
  if (::bind(listen_.get(), reinterpret_cast<const sockaddr*>(&at), sizeof(at)) != 0 ||
      ::listen(listen_.get(), 8) != 0) {
    throw std::runtime_error(SystemError("cannot listen on " + where));
  }
  socklen_t size = sizeof(at);
  ::getsockname(listen_.get(), reinterpret_cast<sockaddr*>(&at), &size);
  url_ = std::string(rfc2217_ ? "rfc2217://" : "tcp://") + address.host + ":" +
         std::to_string(ntohs(at.sin_port));
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::runtime_error(SystemError("cannot create a pipe"));
  }
  wakeRead_ = Fd(pipeFds[0]);
  wakeWrite_ = Fd(pipeFds[1]);
  thread_ = std::thread([this] { Loop(); });
}

NetListener::~NetListener() {
  stopping_ = true;
  const char byte = 0;
  [[maybe_unused]] const ssize_t n = ::write(wakeWrite_.get(), &byte, 1);
  if (thread_.joinable()) thread_.join();
}

void NetListener::Loop() {
  while (!stopping_) {
    pollfd fds[2] = {{listen_.get(), POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (stopping_) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    Fd client(::accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (client.valid()) Serve(client.get());
  }
}

void NetListener::Serve(int client) {
  const int on = 1;
  ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  Fd line(::open(ptyPath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!line.valid()) return;
  termios saved{};
  const bool restore = ::tcgetattr(line.get(), &saved) == 0;
  TelnetServer telnet;
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> replies;
  if (rfc2217_) {
    const std::vector<std::uint8_t> hello = TelnetServer::Hello();
    SendAll(client, hello.data(), hello.size());
  }
  std::uint8_t buffer[4096];
  while (!stopping_) {
    pollfd fds[3] = {{client, POLLIN, 0}, {line.get(), POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0 && errno != EINTR) break;
    if (stopping_) break;
    if (fds[0].revents != 0) {
      const ssize_t n = ::recv(client, buffer, sizeof(buffer), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      data.clear();
      replies.clear();
      if (rfc2217_) {
        telnet.Feed(buffer, static_cast<std::size_t>(n), line.get(), &data, &replies);
      } else {
        data.assign(buffer, buffer + n);
      }
      // The line's bytes first: a reply may follow a write at once.
      if (!data.empty() && ::write(line.get(), data.data(), data.size()) < 0 && errno != EAGAIN) {
        break;
      }
      if (!replies.empty() && !SendAll(client, replies.data(), replies.size())) break;
    }
    if (fds[1].revents & POLLIN) {
      const ssize_t n = ::read(line.get(), buffer, sizeof(buffer));
      if (n > 0) {
        replies.clear();
        if (rfc2217_) {
          TelnetServer::Escape(buffer, static_cast<std::size_t>(n), &replies);
        } else {
          replies.assign(buffer, buffer + n);
        }
        if (!SendAll(client, replies.data(), replies.size())) break;
      }
    }
  }
  if (restore) ::tcsetattr(line.get(), TCSANOW, &saved);
}

}  // namespace sim

#include "support/hostile_server.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>

namespace vorne_test {

namespace {

constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kComPort = 44;

struct Named {
  Hostility mode;
  std::string_view name;
};
constexpr Named kNames[] = {
    {Hostility::kPolite, "polite"},
    {Hostility::kFlood, "flood"},
    {Hostility::kNeverReads, "never-reads"},
    {Hostility::kNeverEnds, "never-ends"},
    {Hostility::kOneByteHangUp, "one-byte-hang-up"},
    {Hostility::kResets, "resets"},
    {Hostility::kRandomDrops, "random-drops"},
    {Hostility::kRefuses, "refuses"},
    {Hostility::kTelnetGreeting, "telnet-greeting"},
    {Hostility::kTelnet, "telnet"},
    {Hostility::kSettingsUnanswered, "settings-unanswered"},
    {Hostility::kGarbageTelnet, "garbage-telnet"},
};

// ser2net's greeting: WILL and DO SUPPRESS-GO-AHEAD, WILL ECHO, DO BINARY,
// WILL BINARY, and DO COM-PORT-OPTION where it serves RFC 2217.
const std::vector<std::uint8_t> kGreeting = {255, 251, 3,   255, 253, 3,   255, 251,
                                             1,   255, 253, 0,   255, 251, 0};

void SendAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (put <= 0) return;
    done += static_cast<std::size_t>(put);
  }
}

void Reset(int fd) {
  const linger now{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof(now));
}

// The server side of Telnet: data bytes out of the stream, answers to the
// client's COM-PORT-OPTION commands when `answer` says so.
class TelnetServer {
 public:
  explicit TelnetServer(bool answer) : answer_(answer) {}
  void Feed(const std::uint8_t* bytes, std::size_t count, std::vector<std::uint8_t>* data,
            std::vector<std::uint8_t>* replies) {
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t b = bytes[i];
      switch (state_) {
        case 0:
          if (b == kIac) {
            state_ = 1;
          } else {
            data->push_back(b);
          }
          break;
        case 1:
          if (b == kIac) {
            data->push_back(b);
            state_ = 0;
          } else if (b == kSb) {
            sub_.clear();
            state_ = 3;
          } else {
            state_ = b >= kWill ? 2 : 0;
          }
          break;
        case 2: state_ = 0; break;  // the option of a verb: agreed by the greeting
        case 3:
          if (b == kIac) {
            state_ = 4;
          } else {
            sub_.push_back(b);
          }
          break;
        case 4:
          if (b == kIac) {
            sub_.push_back(b);
            state_ = 3;
            break;
          }
          state_ = 0;
          if (answer_ && sub_.size() >= 2 && sub_[0] == kComPort) {
            replies->insert(replies->end(),
                            {kIac, kSb, kComPort, static_cast<std::uint8_t>(sub_[1] + 100)});
            for (std::size_t k = 2; k < sub_.size(); ++k) {
              replies->push_back(sub_[k]);
              if (sub_[k] == kIac) replies->push_back(kIac);
            }
            replies->insert(replies->end(), {kIac, kSe});
          }
          break;
      }
    }
  }

 private:
  bool answer_;
  int state_ = 0;
  std::vector<std::uint8_t> sub_;
};

}  // namespace

std::string_view HostilityName(Hostility mode) {
  for (const Named& n : kNames) {
    if (n.mode == mode) return n.name;
  }
  return "?";
}

bool HostilityFromName(std::string_view name, Hostility* mode) {
  for (const Named& n : kNames) {
    if (n.name == name) {
      *mode = n.mode;
      return true;
    }
  }
  return false;
}

HostileServer::HostileServer(Hostility mode, unsigned seed) : mode_(mode), seed_(seed) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return;
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

HostileServer::~HostileServer() {
  stop_ = true;
  ::shutdown(listener_, SHUT_RDWR);
  if (acceptor_.joinable()) acceptor_.join();
  ::close(listener_);
  {
    std::lock_guard lock(mutex_);
    for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
  }
  for (std::thread& t : threads_) t.join();
}

std::string HostileServer::Url(bool rfc2217) const {
  return std::string(rfc2217 ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(port_);
}

std::vector<HostileServer::Session> HostileServer::Sessions() const {
  std::lock_guard lock(mutex_);
  return sessions_;
}

bool HostileServer::WaitForEnded(std::size_t count, int ms) const {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    {
      std::lock_guard lock(mutex_);
      if (ended_ >= count) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

bool HostileServer::Telnet() const {
  return mode_ == Hostility::kTelnet || mode_ == Hostility::kSettingsUnanswered ||
         mode_ == Hostility::kGarbageTelnet;
}

void HostileServer::Accept() {
  while (!stop_) {
    pollfd wait{listener_, POLLIN, 0};
    if (::poll(&wait, 1, 50) <= 0) continue;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    open_.push_back(fd);
    sessions_.emplace_back();
    const std::size_t index = sessions_.size() - 1;
    threads_.emplace_back([this, fd, index] { Serve(fd, index); });
  }
}

void HostileServer::Serve(int fd, std::size_t index) {
  Hostility mode = mode_;
  if (mode == Hostility::kRandomDrops) {
    std::mt19937 random(seed_ + static_cast<unsigned>(index));
    constexpr Hostility kWays[] = {Hostility::kPolite, Hostility::kPolite,
                                   Hostility::kOneByteHangUp, Hostility::kResets,
                                   Hostility::kNeverEnds};
    mode = kWays[random() % 5];
  }
  TelnetServer telnet(mode != Hostility::kSettingsUnanswered);
  bool endedByClient = false;
  // Reads what has come; false at the client's end (or an error).
  const auto take = [&](std::size_t most, int waitMs) {
    pollfd wait{fd, POLLIN, 0};
    if (::poll(&wait, 1, waitMs) <= 0) return !stop_.load();
    std::uint8_t chunk[4096];
    const ssize_t got = ::recv(fd, chunk, std::min(most, sizeof(chunk)), MSG_DONTWAIT);
    if (got == 0) endedByClient = true;
    if (got <= 0) return got < 0 && (errno == EAGAIN || errno == EINTR) && !stop_;
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> replies;
    if (Telnet()) {
      telnet.Feed(chunk, static_cast<std::size_t>(got), &data, &replies);
    } else {
      data.assign(chunk, chunk + got);
    }
    {
      std::lock_guard lock(mutex_);
      Session& s = sessions_[index];
      s.received.insert(s.received.end(), chunk, chunk + got);
      s.data.insert(s.data.end(), data.begin(), data.end());
    }
    if (!replies.empty()) SendAll(fd, replies);
    return true;
  };
  const auto idle = [&] {
    while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };

  if (Telnet() || mode == Hostility::kTelnetGreeting) {
    std::vector<std::uint8_t> hello = kGreeting;
    if (Telnet()) hello.insert(hello.end(), {kIac, kDo, kComPort});
    if (mode == Hostility::kGarbageTelnet) {
      // A sub-negotiation far beyond any real one, one for an option never
      // agreed, one cut by a stray command, and a lone IAC with a NOP.
      hello.insert(hello.end(), {kIac, kSb, kComPort, 106});
      hello.insert(hello.end(), 100000, 0x41);
      hello.insert(hello.end(), {kIac, kSe, kIac, kSb, 99, 1, 2, 3, kIac, kSe, kIac, kSb, kComPort,
                                 107, kIac, 1, kIac, 241});
    }
    SendAll(fd, hello);
  }
  switch (mode) {
    case Hostility::kNeverReads: idle(); break;
    case Hostility::kResets: Reset(fd); break;
    case Hostility::kRefuses:
      SendAll(fd, {'P', 'o', 'r', 't', ' ', 'a', 'l', 'r', 'e',  'a', 'd',
                   'y', ' ', 'i', 'n', ' ', 'u', 's', 'e', '\r', '\n'});
      break;
    case Hostility::kOneByteHangUp: take(1, 2000); break;
    case Hostility::kNeverEnds:
      while (take(SIZE_MAX, 20)) {
      }
      idle();
      break;
    case Hostility::kFlood: {
      const std::vector<std::uint8_t> junk(16384, 0x55);
      while (!stop_) {
        pollfd wait{fd, POLLIN | POLLOUT, 0};
        if (::poll(&wait, 1, 20) <= 0) continue;
        if ((wait.revents & POLLIN) != 0 && !take(SIZE_MAX, 0)) break;
        if ((wait.revents & POLLOUT) != 0 &&
            ::send(fd, junk.data(), junk.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
            errno != EAGAIN) {
          break;
        }
      }
      break;
    }
    default:
      while (take(SIZE_MAX, 20)) {
      }
      break;
  }
  std::lock_guard lock(mutex_);
  sessions_[index].endedByClient = endedByClient;
  ::close(fd);
  std::erase(open_, fd);
  ++ended_;
}

}  // namespace vorne_test

// TCP sockets on POSIX for the network port: non-blocking throughout, each
// wait bounded by poll, never a SIGPIPE.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/net_port.h"

namespace vorne {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(net_socket::Deadline deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

int Descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

std::string Where(const NetAddress& address) {
  return address.host + ":" + std::to_string(address.port);
}

// The server answers the settings only after its last bytes were
// acknowledged; a delayed ACK here would hold each answer back by tens of
// milliseconds. The system turns this off again after a while, so it is
// renewed with every receive.
void AckAtOnce(int fd) {
#if defined(TCP_QUICKACK)
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof(on));
#else
  static_cast<void>(fd);
#endif
}

// One address tried until `deadline`; 0 when connected, else the error.
int TryConnect(const addrinfo& info, net_socket::Deadline deadline, int* socketOut) {
  const int fd =
      ::socket(info.ai_family, info.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, info.ai_protocol);
  if (fd < 0) return errno;
  // Frames are small and each must go at once.
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  int error = 0;
  if (::connect(fd, info.ai_addr, info.ai_addrlen) != 0) {
    error = errno;
    if (error == EINPROGRESS || error == EINTR) {
      pollfd wait{fd, POLLOUT, 0};
      int ready = 0;
      do {
        ready = ::poll(&wait, 1, MillisecondsLeft(deadline));
      } while (ready < 0 && errno == EINTR);
      if (ready == 0) {
        error = ETIMEDOUT;
      } else {
        socklen_t size = sizeof(error);
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
      }
    }
  }
  if (error != 0) {
    ::close(fd);
    return error;
  }
  AckAtOnce(fd);
  *socketOut = fd;
  return 0;
}

}  // namespace

namespace net_socket {

PortResult Connect(const NetAddress& address, Deadline deadline, std::intptr_t* handle,
                   bool* reset) {
  *reset = false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
  const std::string service = std::to_string(address.port);
  addrinfo* found = nullptr;
  // A numeric address needs no lookup; a name goes to the system's
  // resolver, whose time is its own.
  int looked = ::getaddrinfo(address.host.c_str(), service.c_str(), &hints, &found);
  if (looked == EAI_NONAME) {
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    looked = ::getaddrinfo(address.host.c_str(), service.c_str(), &hints, &found);
  }
  if (looked != 0) {
    return {PortStatus::kNoDevice, "cannot find " + address.host + ": " + ::gai_strerror(looked)};
  }
  int error = EHOSTUNREACH;
  int fd = -1;
  for (const addrinfo* info = found; info != nullptr && fd < 0; info = info->ai_next) {
    error = TryConnect(*info, deadline, &fd);
    if (error == ETIMEDOUT) break;
  }
  ::freeaddrinfo(found);
  if (fd >= 0) {
    *handle = fd;
    return {};
  }
  if (error == ETIMEDOUT) {
    // A server that takes no more connections, or a host that is not there.
    return {PortStatus::kBusy, "no answer from " + Where(address) + " in " +
                                   std::to_string(address.connectTimeoutMs) + " ms"};
  }
  if (error == ECONNRESET) {
    *reset = true;
    return {PortStatus::kBusy, Where(address) + " reset the connection as it took it"};
  }
  return {PortStatus::kNoDevice, Where(address) + ": " + std::strerror(error)};
}

PortResult Send(std::intptr_t handle, const std::uint8_t* bytes, std::size_t count,
                Deadline deadline, bool* gone) {
  const int fd = Descriptor(handle);
  *gone = false;
  std::size_t done = 0;
  while (done < count) {
    const ssize_t put = ::send(fd, bytes + done, count - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      const int error = errno;
      *gone = error == EPIPE || error == ECONNRESET;
      return {PortStatus::kIoError, std::strerror(error)};
    }
    const int left = MillisecondsLeft(deadline);
    if (left == 0) {
      return {PortStatus::kIoError, "the server took no bytes in time"};
    }
    pollfd wait{fd, POLLOUT, 0};
    if (::poll(&wait, 1, left) < 0 && errno != EINTR) {
      return {PortStatus::kIoError, std::strerror(errno)};
    }
  }
  return {};
}

PortResult Receive(std::intptr_t handle, Deadline deadline, std::size_t limit,
                   std::vector<std::uint8_t>* out, Ending* ending) {
  const int fd = Descriptor(handle);
  pollfd wait{fd, POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&wait, 1, MillisecondsLeft(deadline));
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return {};
  std::uint8_t chunk[1024];
  std::size_t taken = 0;
  // Bounded in bytes: a server that sends faster than this reads is left
  // for the next call.
  while (taken < limit) {
    const ssize_t got = ::recv(fd, chunk, std::min(sizeof(chunk), limit - taken), MSG_DONTWAIT);
    if (got > 0) {
      out->insert(out->end(), chunk, chunk + got);
      taken += static_cast<std::size_t>(got);
      AckAtOnce(fd);
      continue;
    }
    if (got == 0) {
      // A reset after the end shows only as the socket's pending error.
      int error = 0;
      socklen_t size = sizeof(error);
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error != 0) {
        ending->reset = true;
      } else {
        ending->closed = true;
      }
      return {};
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {};
    if (errno == ECONNRESET || errno == EPIPE || errno == ETIMEDOUT) {
      ending->reset = true;
      return {};
    }
    return {PortStatus::kIoError, std::strerror(errno)};
  }
  return {};
}

bool HalfClose(std::intptr_t handle) { return ::shutdown(Descriptor(handle), SHUT_WR) == 0; }

void Close(std::intptr_t handle, bool abort) {
  const int fd = Descriptor(handle);
  if (abort) {
    // Bytes the server never took are dropped, not left to go out late.
    const linger now{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof(now));
  }
  ::close(fd);
}

}  // namespace net_socket

}  // namespace vorne

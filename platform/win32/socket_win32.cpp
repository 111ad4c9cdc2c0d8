// TCP sockets on Windows for the network port: Winsock, non-blocking
// throughout, each wait bounded by select.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <mutex>

#include "platform/net_port.h"
#include "platform/win32/system_text.h"

namespace vorne {

namespace {

using Clock = std::chrono::steady_clock;

// Winsock is started once and stays started: the matching cleanup may not
// run from the module's unload, where the system holds its loader lock.
int StartWinsock() {
  static std::once_flag once;
  static int started = 0;
  std::call_once(once, [] {
    WSADATA data{};
    started = ::WSAStartup(MAKEWORD(2, 2), &data);
  });
  return started;
}

long MillisecondsLeft(net_socket::Deadline deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<long>(left.count()) : 0;
}

SOCKET Socket(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

std::string Where(const NetAddress& address) {
  return address.host + ":" + std::to_string(address.port);
}

// Whether `socket` became writable (a connect done, room to send) before
// `deadline`: 1 ready, 0 not in time, -1 failed. A connect that fails
// shows in the exception set.
int WaitWritable(SOCKET socket, net_socket::Deadline deadline) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(socket, &ready);
  FD_SET(socket, &failed);
  const long ms = MillisecondsLeft(deadline);
  timeval bound{ms / 1000, (ms % 1000) * 1000};
  const int count = ::select(0, nullptr, &ready, &failed, &bound);
  if (count == SOCKET_ERROR) return -1;
  return count > 0 ? 1 : 0;
}

// Whether bytes or the server's end arrived before `deadline`. Asked with
// a peek every millisecond rather than with select, which under wine does
// not report the end of a connection we have half closed and can stay
// blocked past its timeout.
bool WaitReadable(SOCKET socket, net_socket::Deadline deadline) {
  for (;;) {
    char byte = 0;
    const int got = ::recv(socket, &byte, 1, MSG_PEEK);
    if (got != SOCKET_ERROR || ::WSAGetLastError() != WSAEWOULDBLOCK) return true;
    if (MillisecondsLeft(deadline) == 0) return false;
    ::Sleep(1);
  }
}

// One address tried until `deadline`; 0 when connected, else the error.
int TryConnect(const addrinfo& info, net_socket::Deadline deadline, SOCKET* socketOut) {
  const SOCKET socket = ::WSASocketW(info.ai_family, info.ai_socktype, info.ai_protocol, nullptr, 0,
                                     WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) return ::WSAGetLastError();
  u_long nonBlocking = 1;
  ::ioctlsocket(socket, FIONBIO, &nonBlocking);
  // Frames are small and each must go at once.
  const BOOL on = TRUE;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on));
  int error = 0;
  if (::connect(socket, info.ai_addr, static_cast<int>(info.ai_addrlen)) == SOCKET_ERROR) {
    error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      const int ready = WaitWritable(socket, deadline);
      if (ready == 0) {
        error = WSAETIMEDOUT;
      } else {
        int size = sizeof(error);
        if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) !=
            0) {
          error = ::WSAGetLastError();
        }
      }
    }
  }
  if (error != 0) {
    ::closesocket(socket);
    return error;
  }
  *socketOut = socket;
  return 0;
}

}  // namespace

namespace net_socket {

PortResult Connect(const NetAddress& address, Deadline deadline, std::intptr_t* handle,
                   bool* reset) {
  *reset = false;
  if (const int started = StartWinsock(); started != 0) {
    return {PortStatus::kNoDevice, "no network: " + SystemText(static_cast<DWORD>(started))};
  }
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
    return {PortStatus::kNoDevice,
            "cannot find " + address.host + ": " + SystemText(static_cast<DWORD>(looked))};
  }
  int error = WSAEHOSTUNREACH;
  SOCKET socket = INVALID_SOCKET;
  for (const addrinfo* info = found; info != nullptr && socket == INVALID_SOCKET;
       info = info->ai_next) {
    error = TryConnect(*info, deadline, &socket);
    if (error == WSAETIMEDOUT) break;
  }
  ::freeaddrinfo(found);
  if (socket != INVALID_SOCKET) {
    *handle = static_cast<std::intptr_t>(socket);
    return {};
  }
  if (error == WSAETIMEDOUT) {
    // A server that takes no more connections, or a host that is not there.
    return {PortStatus::kBusy, "no answer from " + Where(address) + " in " +
                                   std::to_string(address.connectTimeoutMs) + " ms"};
  }
  if (error == WSAECONNRESET || error == WSAECONNABORTED) {
    *reset = true;
    return {PortStatus::kBusy, Where(address) + " reset the connection as it took it"};
  }
  return {PortStatus::kNoDevice, Where(address) + ": " + SystemText(static_cast<DWORD>(error))};
}

PortResult Send(std::intptr_t handle, const std::uint8_t* bytes, std::size_t count,
                Deadline deadline, bool* gone) {
  const SOCKET socket = Socket(handle);
  *gone = false;
  std::size_t done = 0;
  while (done < count) {
    const int want = static_cast<int>(count - done > 0x10000 ? 0x10000 : count - done);
    const int put = ::send(socket, reinterpret_cast<const char*>(bytes + done), want, 0);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
      continue;
    }
    const int error = ::WSAGetLastError();
    if (put == SOCKET_ERROR && error != WSAEWOULDBLOCK) {
      *gone = error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN;
      return {PortStatus::kIoError, SystemText(static_cast<DWORD>(error))};
    }
    if (MillisecondsLeft(deadline) == 0) {
      return {PortStatus::kIoError, "the server took no bytes in time"};
    }
    if (WaitWritable(socket, deadline) < 0) {
      return {PortStatus::kIoError, SystemText(static_cast<DWORD>(::WSAGetLastError()))};
    }
  }
  return {};
}

PortResult Receive(std::intptr_t handle, Deadline deadline, std::size_t limit,
                   std::vector<std::uint8_t>* out, Ending* ending) {
  const SOCKET socket = Socket(handle);
  if (!WaitReadable(socket, deadline)) return {};
  char chunk[1024];
  std::size_t taken = 0;
  // Bounded in bytes: a server that sends faster than this reads is left
  // for the next call.
  while (taken < limit) {
    const int want = static_cast<int>(std::min(sizeof(chunk), limit - taken));
    const int got = ::recv(socket, chunk, want, 0);
    if (got > 0) {
      out->insert(out->end(), chunk, chunk + got);
      taken += static_cast<std::size_t>(got);
      continue;
    }
    if (got == 0) {
      ending->closed = true;
      return {};
    }
    const int error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return {};
    if (error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAETIMEDOUT) {
      ending->reset = true;
      return {};
    }
    return {PortStatus::kIoError, SystemText(static_cast<DWORD>(error))};
  }
  return {};
}

bool HalfClose(std::intptr_t handle) { return ::shutdown(Socket(handle), SD_SEND) == 0; }

void Close(std::intptr_t handle, bool abort) {
  const SOCKET socket = Socket(handle);
  if (abort) {
    // Bytes the server never took are dropped, not left to go out late.
    const linger now{1, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&now), sizeof(now));
  }
  ::closesocket(socket);
}

}  // namespace net_socket

}  // namespace vorne

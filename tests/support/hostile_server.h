// A device server on loopback that misbehaves on purpose, one way per
// mode, and keeps what its own read() returned in each session: the
// truth a port's verdict on a frame is held against.
#ifndef VORNE_TESTS_SUPPORT_HOSTILE_SERVER_H
#define VORNE_TESTS_SUPPORT_HOSTILE_SERVER_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vorne_test {

enum class Hostility {
  kPolite,              // reads everything, ends the session on the client's end
  kFlood,               // as polite, but sends line input as fast as the socket takes it
  kNeverReads,          // takes the connection, then nothing: no read, no end
  kNeverEnds,           // reads everything, never ends the session
  kOneByteHangUp,       // reads one byte, then hangs up
  kResets,              // resets every session as it comes
  kRandomDrops,         // each session polite or cut short at random (seeded)
  kRefuses,             // "Port already in use" and hangs up, as a busy ser2net
  kTelnetGreeting,      // greets with Telnet options, then reads as polite
  kTelnet,              // a working RFC 2217 server
  kSettingsUnanswered,  // agrees to COM-PORT-OPTION, never answers the settings
  kGarbageTelnet,       // RFC 2217 with broken and oversized sub-negotiations
};

std::string_view HostilityName(Hostility mode);
bool HostilityFromName(std::string_view name, Hostility* mode);

class HostileServer {
 public:
  struct Session {
    std::vector<std::uint8_t> received;  // every byte read() returned
    std::vector<std::uint8_t> data;      // the same, Telnet commands taken out
    bool endedByClient = false;          // the client's end of the session was read
  };

  explicit HostileServer(Hostility mode, unsigned seed = 1);
  ~HostileServer();
  HostileServer(const HostileServer&) = delete;
  HostileServer& operator=(const HostileServer&) = delete;

  int Port() const { return port_; }
  // "tcp://127.0.0.1:PORT" or "rfc2217://127.0.0.1:PORT".
  std::string Url(bool rfc2217) const;
  // The sessions so far, finished or not, in the order they came.
  std::vector<Session> Sessions() const;
  // Waits up to `ms` until `count` sessions have ended.
  bool WaitForEnded(std::size_t count, int ms) const;

 private:
  void Accept();
  void Serve(int fd, std::size_t index);
  bool Telnet() const;

  Hostility mode_;
  unsigned seed_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<Session> sessions_;
  std::size_t ended_ = 0;
  std::vector<int> open_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace vorne_test

#endif

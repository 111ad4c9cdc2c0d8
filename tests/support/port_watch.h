// Counts how often a device file is opened and closed, through inotify, so
// a test can see one open-write-close cycle per frame.
#ifndef VORNE_TESTS_SUPPORT_PORT_WATCH_H
#define VORNE_TESTS_SUPPORT_PORT_WATCH_H

#include <sys/inotify.h>
#include <unistd.h>

#include <cstddef>
#include <ostream>
#include <string>

namespace vorne_test {

struct PortCycles {
  int opens = 0;
  int closes = 0;
  friend bool operator==(const PortCycles&, const PortCycles&) = default;
};

inline void PrintTo(const PortCycles& c, std::ostream* os) {
  *os << "{opens " << c.opens << ", closes " << c.closes << "}";
}

class PortWatch {
 public:
  explicit PortWatch(const std::string& path) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0) {
      ok_ = inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) >= 0;
    }
  }
  ~PortWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  PortWatch(const PortWatch&) = delete;
  PortWatch& operator=(const PortWatch&) = delete;

  bool ok() const { return ok_; }

  // Opens and closes since the last call. The events are queued when the
  // file is opened or closed, so nothing has to be waited for once the
  // call that did it has returned.
  PortCycles Take() {
    PortCycles cycles;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, sizeof(buffer));
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->mask & IN_OPEN) ++cycles.opens;
        if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) ++cycles.closes;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return cycles;
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

}  // namespace vorne_test

#endif

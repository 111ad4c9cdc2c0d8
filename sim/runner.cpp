#include "sim/runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#if defined(__linux__)
#include <sys/inotify.h>
#endif

namespace sim {
namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

void SetFlags(int fd, int statusFlags) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | statusFlags);
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

std::optional<speed_t> BaudConstant(int rate) {
  switch (rate) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return std::nullopt;
  }
}

// Raw bytes both ways, 8N1: no echo, no line editing, no newline
// translation, reads return whatever has arrived.
bool MakeRaw(int fd, speed_t speed) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return false;
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace

std::unique_ptr<Runner> Runner::OnPty(Protocol protocol, RunnerOptions options) {
  Fd master(::posix_openpt(O_RDWR | O_NOCTTY));
  if (!master.valid()) throw std::runtime_error(SystemError("cannot open a pseudo-terminal"));
  if (::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) {
    throw std::runtime_error(SystemError("cannot unlock the pseudo-terminal"));
  }
  char name[256] = {};
#if defined(__linux__)
  if (::ptsname_r(master.get(), name, sizeof name) != 0) {
    throw std::runtime_error(SystemError("cannot name the pseudo-terminal"));
  }
#else
  const char* found = ::ptsname(master.get());
  if (found == nullptr) throw std::runtime_error(SystemError("cannot name the pseudo-terminal"));
  std::strncpy(name, found, sizeof name - 1);
#endif
  Fd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!slave.valid()) throw std::runtime_error(SystemError(std::string("cannot open ") + name));
  if (!MakeRaw(slave.get(), B9600)) {
    throw std::runtime_error(SystemError(std::string("cannot set ") + name + " to raw mode"));
  }
  SetFlags(master.get(), O_NONBLOCK);
  Fd watch;
#if defined(__linux__)
  // Set up after the runner's own open, so it sees only the clients.
  watch = Fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (watch.valid() && ::inotify_add_watch(watch.get(), name, IN_OPEN | IN_CLOSE) < 0) {
    watch.Reset();
  }
#endif
  return std::unique_ptr<Runner>(new Runner(protocol, std::move(options), std::move(master),
                                            std::move(slave), std::move(watch), name));
}

std::unique_ptr<Runner> Runner::OnDevice(Protocol protocol, const std::string& path,
                                         RunnerOptions options) {
  const std::optional<speed_t> speed = BaudConstant(options.baudRate);
  if (!speed) {
    throw std::runtime_error("unsupported baud rate " + std::to_string(options.baudRate) +
                             " (1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200)");
  }
  Fd device(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!device.valid()) throw std::runtime_error(SystemError("cannot open " + path));
  if (!::isatty(device.get())) throw std::runtime_error(path + " is not a serial device");
  if (!MakeRaw(device.get(), *speed)) {
    throw std::runtime_error(SystemError("cannot configure " + path));
  }
  ::tcflush(device.get(), TCIOFLUSH);
  return std::unique_ptr<Runner>(
      new Runner(protocol, std::move(options), std::move(device), Fd(), Fd(), path));
}

Runner::Runner(Protocol protocol, RunnerOptions options, Fd line, Fd slave, Fd watch,
               std::string path)
    : protocol_(protocol),
      options_(std::move(options)),
      line_(std::move(line)),
      slave_(std::move(slave)),
      watch_(std::move(watch)),
      path_(std::move(path)),
      camera_(protocol, options_.clock) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) throw std::runtime_error(SystemError("cannot create a pipe"));
  wakeRead_ = Fd(pipeFds[0]);
  wakeWrite_ = Fd(pipeFds[1]);
  SetFlags(wakeRead_.get(), O_NONBLOCK);
  SetFlags(wakeWrite_.get(), O_NONBLOCK);
  camera_.SetAddress(options_.address);
  camera_.SetReplyMode(options_.replyMode);
  camera_.SetReplyDelay(options_.replyDelay);
  thread_ = std::thread([this] { Loop(); });
}

Runner::~Runner() { Stop(); }

std::string Runner::EnvironmentLine(int port) const {
  return "VORNE_COM" + std::to_string(port) + "=" + path_;
}

void Runner::Stop() {
  stopping_ = true;
  if (wakeWrite_.valid()) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(wakeWrite_.get(), &byte, 1);
  }
  if (thread_.joinable()) thread_.join();
}

void Runner::Loop() {
  using std::chrono::milliseconds;
  lastByte_ = std::chrono::steady_clock::now();
  while (!stopping_) {
    const SteadyTime now = std::chrono::steady_clock::now();
    int timeout = -1;
    auto consider = [&](SteadyTime due) {
      const auto wait = std::chrono::ceil<milliseconds>(due - now).count();
      const int ms = wait < 0 ? 0 : static_cast<int>(wait);
      timeout = timeout < 0 ? ms : std::min(timeout, ms);
    };
    bool pending;
    {
      std::lock_guard lock(mutex_);
      pending = camera_.HasPending();
    }
    if (pending) consider(lastByte_ + options_.quietTime);
    for (const Pending& p : replies_) consider(p.due);

    pollfd fds[3] = {
        {line_.get(), POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}, {watch_.get(), POLLIN, 0}};
    if (::poll(fds, watch_.valid() ? 3 : 2, timeout) < 0) {
      if (errno == EINTR) continue;
      Notice(SystemError("waiting on the line failed"));
      break;
    }
    if (fds[1].revents != 0 && stopping_) break;
    // A client opens the port before it writes, so its open is counted
    // before its bytes are answered.
    TrackClients();
    if (fds[0].revents & POLLIN) {
      if (!ReadLine()) break;
    } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      Notice("the line was closed or lost: " + path_);
      break;
    }
    if (pending || fds[0].revents != 0) {
      std::vector<Event> flushed;
      {
        std::lock_guard lock(mutex_);
        if (camera_.HasPending() &&
            std::chrono::steady_clock::now() - lastByte_ >= options_.quietTime) {
          flushed = camera_.Flush();
        }
      }
      Record(std::move(flushed));
    }
    WriteDueReplies();
  }
  std::vector<Event> rest;
  {
    std::lock_guard lock(mutex_);
    rest = camera_.Flush();
  }
  Record(std::move(rest));
  {
    std::lock_guard lock(mutex_);
    running_ = false;
  }
  changed_.notify_all();
}

bool Runner::ReadLine() {
  std::uint8_t buffer[4096];
  for (;;) {
    const ssize_t n = ::read(line_.get(), buffer, sizeof buffer);
    if (n > 0) {
      lastByte_ = std::chrono::steady_clock::now();
      std::vector<Event> events;
      {
        std::lock_guard lock(mutex_);
        events = camera_.Feed(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)));
      }
      Record(std::move(events));
      // Replies due at once go out before the next read, so each answer
      // follows its request as closely as a real camera's would.
      WriteDueReplies();
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n < 0 && errno == EINTR) continue;
    Notice(n == 0 ? "the line reached its end: " + path_
                  : SystemError("reading " + path_ + " failed"));
    return false;
  }
}

void Runner::TrackClients() {
#if defined(__linux__)
  if (!watch_.valid()) return;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(watch_.get(), buffer, sizeof buffer);
    if (n <= 0) return;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->mask & IN_OPEN) ++clients_;
      if ((event->mask & IN_CLOSE) && clients_ > 0 && --clients_ == 0) {
        // The last client closed the port: what it left unread is gone.
        int unread = 0;
        ::ioctl(slave_.get(), FIONREAD, &unread);
        ::tcflush(slave_.get(), TCIFLUSH);
        if (unread > 0) {
          Notice(std::to_string(unread) +
                 " bytes the client left unread were lost when it "
                 "closed the port");
        }
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
#endif
}

void Runner::WriteDueReplies() {
  TrackClients();
  const SteadyTime now = std::chrono::steady_clock::now();
  std::vector<Reply> due;
  for (auto it = replies_.begin(); it != replies_.end();) {
    if (it->due <= now) {
      due.push_back(std::move(it->reply));
      it = replies_.erase(it);
    } else {
      ++it;
    }
  }
  for (const Reply& reply : due) {
    if (watch_.valid() && clients_ == 0) {
      Notice("reply " + Hex(reply.bytes) + " lost: no client has the port open");
      continue;
    }
    const ssize_t n = ::write(line_.get(), reply.bytes.data(), reply.bytes.size());
    if (n != static_cast<ssize_t>(reply.bytes.size())) {
      // Nobody reads the line and its buffer is full: a real port would
      // lose the bytes too.
      Notice(n < 0
                 ? SystemError("reply of " + std::to_string(reply.bytes.size()) + " bytes dropped")
                 : "reply cut short after " + std::to_string(n) + " of " +
                       std::to_string(reply.bytes.size()) + " bytes");
      continue;
    }
    Event event;
    event.kind = Event::Kind::kReply;
    event.wallTime = std::chrono::system_clock::now();
    event.bytes = reply.bytes;
    event.meaning = "reply (" + std::string(ReplyModeName(reply.mode)) + ")";
    {
      std::lock_guard lock(mutex_);
      event.state = camera_.State();
    }
    std::vector<Event> events;
    events.push_back(std::move(event));
    Record(std::move(events));
  }
}

void Runner::Notice(std::string text) {
  Event event;
  event.kind = Event::Kind::kNotice;
  event.wallTime = std::chrono::system_clock::now();
  event.meaning = std::move(text);
  std::vector<Event> events;
  events.push_back(std::move(event));
  Record(std::move(events));
}

void Runner::Record(std::vector<Event> events) {
  if (events.empty()) return;
  for (const Event& event : events) {
    if (event.reply) {
      replies_.push_back({std::chrono::steady_clock::now() + event.reply->delay, *event.reply});
    }
  }
  {
    std::lock_guard lock(mutex_);
    for (const Event& event : events) {
      if (event.kind == Event::Kind::kFrame) ++frames_;
      log_.push_back(event);
      while (log_.size() > options_.logLimit && !log_.empty()) log_.pop_front();
    }
  }
  if (options_.onEvent) {
    for (const Event& event : events) options_.onEvent(event);
  }
  changed_.notify_all();
}

std::vector<Event> Runner::Events() const {
  std::lock_guard lock(mutex_);
  return {log_.begin(), log_.end()};
}

std::vector<Event> Runner::Frames() const {
  std::lock_guard lock(mutex_);
  std::vector<Event> frames;
  for (const Event& event : log_) {
    if (event.kind == Event::Kind::kFrame) frames.push_back(event);
  }
  return frames;
}

void Runner::ClearEvents() {
  std::lock_guard lock(mutex_);
  log_.clear();
  frames_ = 0;
}

bool Runner::WaitForFrames(std::size_t count, Duration timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return frames_ >= count || !running_; }) &&
         frames_ >= count;
}

bool Runner::WaitFor(const std::function<bool(const std::vector<Event>&)>& ready,
                     Duration timeout) const {
  std::unique_lock lock(mutex_);
  bool result = false;
  changed_.wait_for(lock, timeout, [&] {
    result = ready(std::vector<Event>(log_.begin(), log_.end()));
    return result || !running_;
  });
  return result;
}

CameraState Runner::State() const {
  std::lock_guard lock(mutex_);
  return camera_.State();
}

void Runner::SetReplyMode(ReplyMode mode) {
  std::lock_guard lock(mutex_);
  camera_.SetReplyMode(mode);
}

void Runner::SetReplyDelay(Duration delay) {
  std::lock_guard lock(mutex_);
  camera_.SetReplyDelay(delay);
}

}  // namespace sim

// The serial port on POSIX: termios, an advisory exclusive lock, other
// programs' UUCP lock files honoured, and non-blocking transfers bounded by
// poll.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/net_port.h"
#include "platform/posix/port_holders.h"
#include "platform/serial_port.h"

namespace vorne {

namespace {

struct RateCode {
  std::int32_t baud;
  speed_t code;
};

constexpr RateCode kRates[] = {
    {50, B50},           {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},         {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},     {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
};

bool RateFor(std::int32_t baud, speed_t* code) {
  for (const RateCode& rate : kRates) {
    if (rate.baud == baud) {
      *code = rate.code;
      return true;
    }
  }
  return false;
}

std::string Reason(int error) { return std::strerror(error); }

PortResult Fail(PortStatus status, int error) { return {status, Reason(error)}; }

PortResult Fail(PortStatus status, std::string reason) { return {status, std::move(reason)}; }

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

int Descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

std::string SerialPort::DevicePath(int number) {
  const std::string variable = "VORNE_COM" + std::to_string(number);
  if (const char* named = std::getenv(variable.c_str()); named != nullptr && *named != '\0') {
    return named;
  }
  return "/dev/ttyS" + std::to_string(number - 1);
}

bool SerialPort::SupportsRate(std::int32_t baud) {
  speed_t code;
  return RateFor(baud, &code);
}

SerialPort::~SerialPort() { static_cast<void>(Close()); }

namespace {

// What a frame may take beyond its line time before it counts as stalled:
// scheduling and the transmitter, not a line that does not move.
constexpr long long kStallMarginMs = 30;

// The largest frame a driver sends; another program holding the port is
// waited for about as long as two of them take on the line, plus time for
// that program to be scheduled again on a busy machine.
constexpr std::size_t kLongestFrame = 16;
constexpr long long kTurnMarginMs = 100;

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

// The termios of raw 8-bit transfer with `settings`, built on `line` as the
// device reported it. False when the rate has no code here.
bool RawLine(const LineSettings& settings, termios* line) {
  speed_t speed;
  if (!RateFor(settings.baud, &speed)) return false;
  ::cfmakeraw(line);
  // Bytes pass untouched in both directions; no software or hardware flow
  // control, modem lines ignored, receiver on.
  line->c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | PARMRK);
  line->c_iflag |= IGNBRK;
  line->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR);
  line->c_cflag |= CLOCAL | CREAD;
  switch (settings.dataBits) {
    case 5: line->c_cflag |= CS5; break;
    case 6: line->c_cflag |= CS6; break;
    case 7: line->c_cflag |= CS7; break;
    default: line->c_cflag |= CS8; break;
  }
  switch (settings.parity) {
    case 'e': line->c_cflag |= PARENB; break;
    case 'o': line->c_cflag |= PARENB | PARODD; break;
    case 'm': line->c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 's': line->c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (settings.stopBits == 2) line->c_cflag |= CSTOPB;
  line->c_cc[VMIN] = 0;
  line->c_cc[VTIME] = 0;
  return ::cfsetispeed(line, speed) == 0 && ::cfsetospeed(line, speed) == 0;
}

bool SameLine(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME] &&
         ::cfgetispeed(&a) == ::cfgetispeed(&b) && ::cfgetospeed(&a) == ::cfgetospeed(&b);
}

// Applies `settings` to the line whose current termios is `line`; writes
// them only when they differ from what the device already runs.
PortResult Apply(int fd, const termios& line, const LineSettings& settings) {
  termios wanted = line;
  if (!RawLine(settings, &wanted)) return Fail(PortStatus::kRefused, EINVAL);
  if (SameLine(wanted, line)) return {};
  if (::tcsetattr(fd, TCSANOW, &wanted) != 0) return Fail(PortStatus::kRefused, errno);
  return {};
}

// Takes the port's exclusive lock, waiting a little for another program
// that holds it for a frame of its own; then names that program.
PortResult Lock(int fd, std::int32_t baud) {
  const Clock::time_point deadline =
      Clock::now() +
      std::chrono::milliseconds(2 * LineMilliseconds(kLongestFrame, baud) + kTurnMarginMs);
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return Fail(PortStatus::kNoDevice, errno);
    if (Clock::now() >= deadline) return Fail(PortStatus::kBusy, posix::FlockHolder(fd));
    Pause();
  }
  return {};
}

}  // namespace

PortResult SerialPort::Open(const std::string& path, const LineSettings& settings) {
  static_cast<void>(Close());
  if (IsNetPath(path)) return OpenNet(path, settings);
  // A terminal program's lock file claims the port for its whole session:
  // not even opened then, since that is not waited out.
  if (std::optional<std::string> holder = posix::UucpLockHolder(path)) {
    return Fail(PortStatus::kBusy, std::move(*holder));
  }
  // O_NONBLOCK: a line without carrier must not hold the caller; O_NOCTTY:
  // the port never becomes the host process's terminal.
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Fail(PortStatus::kNoDevice, errno);

  // One read of the line's settings tells a serial device from anything
  // else and is what the new settings are compared with.
  termios line{};
  if (::tcgetattr(fd, &line) != 0) {
    const int error = errno;
    ::close(fd);
    if (error == ENOTTY) return Fail(PortStatus::kNoDevice, "not a serial device");
    return Fail(PortStatus::kNoDevice, error);
  }
  if (PortResult locked = Lock(fd, settings.baud); !locked.ok()) {
    ::close(fd);
    return locked;
  }
  if (PortResult applied = Apply(fd, line, settings); !applied.ok()) {
    ::close(fd);
    return applied;
  }
  // An answer that came after its exchange ended must not answer the next
  // request. Only input goes: output of another program has left already,
  // since it held the lock until its bytes were out.
  ::tcflush(fd, TCIFLUSH);
  handle_ = fd;
  settings_ = settings;
  unsent_ = false;
  return {};
}

PortResult SerialPort::Configure(const LineSettings& settings) {
  if (net_) return net_->Configure(settings);
  if (!IsOpen()) return Fail(PortStatus::kIoError, EBADF);
  // The settings in force need no second write.
  if (settings == settings_) return {};
  const int fd = Descriptor(handle_);
  termios line{};
  if (::tcgetattr(fd, &line) != 0) return Fail(PortStatus::kRefused, errno);
  if (PortResult applied = Apply(fd, line, settings); !applied.ok()) return applied;
  settings_ = settings;
  return {};
}

PortResult SerialPort::Write(const std::uint8_t* bytes, std::size_t count) {
  if (net_) return net_->Write(bytes, count);
  if (!IsOpen()) return Fail(PortStatus::kIoError, EBADF);
  const int fd = Descriptor(handle_);
  // The bytes must be out within their time on the line plus a margin; a
  // line that does not move is given up rather than holding the caller.
  const long long boundMs = LineMilliseconds(count, settings_.baud) + kStallMarginMs;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(boundMs);
  const auto stalled = [&] {
    unsent_ = true;
    return Fail(PortStatus::kIoError,
                "the line took no bytes for " + std::to_string(boundMs) + " ms");
  };
  std::size_t done = 0;
  while (done < count) {
    const ssize_t put = ::write(fd, bytes + done, count - done);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      unsent_ = true;
      return Fail(PortStatus::kIoError, errno);
    }
    // The output queue is full: wait for room, but not beyond the bound.
    pollfd wait{fd, POLLOUT, 0};
    const int left = MillisecondsLeft(deadline);
    if (left == 0) return stalled();
    if (::poll(&wait, 1, left) < 0 && errno != EINTR) return Fail(PortStatus::kIoError, errno);
    if ((wait.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (wait.revents & POLLOUT) == 0) {
      unsent_ = true;
      return Fail(PortStatus::kIoError, "the line was hung up");
    }
  }
  // Then until the queue has gone to the wire; an empty queue is not
  // polled at all.
  int queued = 0;
  while (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
    if (MillisecondsLeft(deadline) == 0) return stalled();
    Pause();
  }
  return {};
}

PortResult SerialPort::Waiting(std::size_t* count) {
  if (net_) return net_->Waiting(count);
  *count = 0;
  if (!IsOpen()) return Fail(PortStatus::kIoError, EBADF);
  int waiting = 0;
  if (::ioctl(Descriptor(handle_), FIONREAD, &waiting) != 0) {
    return Fail(PortStatus::kIoError, errno);
  }
  *count = waiting > 0 ? static_cast<std::size_t>(waiting) : 0;
  return {};
}

PortResult SerialPort::Read(std::size_t max, std::vector<std::uint8_t>* out) {
  if (net_) return net_->Read(max, out);
  if (!IsOpen()) return Fail(PortStatus::kIoError, EBADF);
  const int fd = Descriptor(handle_);
  std::uint8_t chunk[512];
  while (max > 0) {
    const std::size_t want = max < sizeof(chunk) ? max : sizeof(chunk);
    const ssize_t got = ::read(fd, chunk, want);
    if (got > 0) {
      out->insert(out->end(), chunk, chunk + got);
      max -= static_cast<std::size_t>(got);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got == 0 || errno == EAGAIN || errno == EWOULDBLOCK) break;
    return Fail(PortStatus::kIoError, errno);
  }
  return {};
}

PortResult SerialPort::DiscardInput() {
  if (net_) return net_->DiscardInput();
  if (!IsOpen()) return Fail(PortStatus::kIoError, EBADF);
  if (::tcflush(Descriptor(handle_), TCIFLUSH) != 0) return Fail(PortStatus::kIoError, errno);
  return {};
}

PortResult SerialPort::Close() {
  if (net_) {
    // A device server's session: its end is where delivery shows.
    PortResult ended = net_->Close();
    net_.reset();
    return ended;
  }
  if (!IsOpen()) return {};
  const int fd = Descriptor(handle_);
  handle_ = kNoHandle;
  if (unsent_) {
    // The line did not take the last frame: drop it rather than block on
    // the close.
    ::tcflush(fd, TCOFLUSH);
  } else {
    ::tcdrain(fd);  // the last bytes still in the transmitter
  }
  ::close(fd);  // also drops the lock
  return {};
}

}  // namespace vorne

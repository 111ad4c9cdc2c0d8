#include "support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vorne_test {

namespace {

using Clock = std::chrono::steady_clock;

std::optional<std::string> GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

int BaudOf(speed_t speed) {
  struct Row {
    speed_t code;
    int baud;
  };
  static constexpr Row kRows[] = {
      {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},     {B150, 150},
      {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},   {B1800, 1800},
      {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200}, {B38400, 38400},
      {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
  };
  for (const Row& row : kRows) {
    if (row.code == speed) return row.baud;
  }
  return 0;
}

}  // namespace

PtyPair::PtyPair(Line mode) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    error_ = std::string("posix_openpt: ") + std::strerror(errno);
    return;
  }
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    error_ = std::string("grantpt/unlockpt: ") + std::strerror(errno);
    return;
  }
  char name[128];
  if (::ptsname_r(master_, name, sizeof(name)) != 0) {
    error_ = std::string("ptsname_r: ") + std::strerror(errno);
    return;
  }
  slavePath_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    error_ = slavePath_ + ": " + std::strerror(errno);
    return;
  }
  termios line{};
  if (::tcgetattr(slave_, &line) != 0) {
    error_ = slavePath_ + ": tcgetattr: " + std::strerror(errno);
    return;
  }
  if (mode == Line::kRaw) {
    // Nothing sent through it is changed by the line discipline.
    ::cfmakeraw(&line);
  } else {
    // What a new terminal has anyway, made sure of: the test relies on it.
    line.c_iflag |= ICRNL;
    line.c_oflag |= OPOST | ONLCR;
    line.c_lflag |= ISIG | ICANON | ECHO;
  }
  if (::tcsetattr(slave_, TCSANOW, &line) != 0) {
    error_ = slavePath_ + ": tcsetattr: " + std::strerror(errno);
  }
}

PtyPair::~PtyPair() { HangUp(); }

void PtyPair::HangUp() {
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
  slave_ = master_ = -1;
}

Bytes PtyPair::ReadMaster(std::size_t count, std::chrono::milliseconds timeout) {
  Bytes got;
  const Clock::time_point deadline = Clock::now() + timeout;
  while (got.size() < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd wait{master_, POLLIN, 0};
    const int ready = ::poll(&wait, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    std::uint8_t chunk[256];
    const std::size_t want = std::min(sizeof(chunk), count - got.size());
    const ssize_t n = ::read(master_, chunk, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got.insert(got.end(), chunk, chunk + n);
  }
  return got;
}

Bytes PtyPair::ReadAvailable(std::chrono::milliseconds quiet) {
  Bytes got;
  for (;;) {
    pollfd wait{master_, POLLIN, 0};
    const int ready = ::poll(&wait, 1, static_cast<int>(quiet.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (wait.revents & POLLIN) == 0) break;
    std::uint8_t chunk[256];
    const ssize_t n = ::read(master_, chunk, sizeof(chunk));
    if (n <= 0) break;
    got.insert(got.end(), chunk, chunk + n);
  }
  return got;
}

bool PtyPair::WriteMaster(const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::optional<termios> PtyPair::SlaveTermios() const {
  termios line{};
  if (::tcgetattr(slave_, &line) != 0) return std::nullopt;
  return line;
}

int PtyPair::SlaveBaud() const {
  const std::optional<termios> line = SlaveTermios();
  return line ? BaudOf(::cfgetospeed(&*line)) : 0;
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)), previous_(GetEnv(name_)) {
  SetEnv(name_, value);
}

ScopedEnv::~ScopedEnv() { SetEnv(name_, previous_); }

std::string Hex(const Bytes& bytes) {
  std::string text;
  char byte[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(byte, sizeof(byte), i == 0 ? "%02X" : " %02X", bytes[i]);
    text += byte;
  }
  return text;
}

}  // namespace vorne_test

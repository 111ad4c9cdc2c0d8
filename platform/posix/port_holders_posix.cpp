// Other programs' holds on a serial device: the UUCP lock files terminal
// programs (minicom, picocom, cu) leave in /var/lock, and the kernel's
// list of flocks in /proc/locks.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/posix/port_holders.h"

namespace vorne::posix {

namespace {

constexpr const char* kLockFolder = "/var/lock";

// Up to `limit` bytes of a small file, without following a final symbolic
// link and without waiting on a fifo someone put in its place. Null when it
// cannot be read or is not a regular file (a /proc file counts as one).
std::optional<std::string> ReadSmall(const std::string& path, std::size_t limit) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string text;
  char chunk[4096];
  while (text.size() < limit) {
    const ssize_t got = ::read(fd, chunk, sizeof(chunk));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(fd);
  if (text.size() > limit) text.resize(limit);
  return text;
}

// The pid a lock file names: ASCII digits padded with spaces and ended by a
// newline (HDB UUCP, what current programs write), or the older four-byte
// binary number in host order, which below 2^24 always has a zero byte.
std::optional<pid_t> LockPid(const std::string& content) {
  std::size_t at = content.find_first_not_of(' ');
  if (at == std::string::npos) at = content.size();
  std::int64_t value = 0;
  std::size_t end = at;
  while (end < content.size() && content[end] >= '0' && content[end] <= '9' && value <= INT32_MAX) {
    value = value * 10 + (content[end] - '0');
    ++end;
  }
  // Text never holds a zero byte: "12\n" followed by one is a binary pid.
  const bool digits = end > at && content.find('\0') == std::string::npos &&
                      (end == content.size() ||
                       std::string_view(" \t\r\n").find(content[end]) != std::string_view::npos);
  if (!digits) {
    if (content.size() != 4) return std::nullopt;
    std::int32_t binary;
    std::memcpy(&binary, content.data(), sizeof(binary));
    value = binary;
  }
  // Zero and negative numbers would make kill() address process groups.
  if (value <= 0 || value > INT32_MAX) return std::nullopt;
  return static_cast<pid_t>(value);
}

// A process exists when a signal could be sent to it, by us or not.
bool Alive(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

// Names come from other programs: anything but plain printable text is
// shown as \xNN, and so are the separators the trace's readers split on.
std::string Escaped(std::string_view name) {
  std::string text;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '\\' && c != ':') {
      text += c;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof(hex), "\\x%02X", byte);
      text += hex;
    }
  }
  return text;
}

// "pid 1234, minicom", or "pid 1234" when the program's name is not ours
// to read.
std::string Process(pid_t pid) {
  std::string text = "pid " + std::to_string(pid);
  std::optional<std::string> name = ReadSmall("/proc/" + std::to_string(pid) + "/comm", 64);
  if (name) {
    while (!name->empty() && name->back() == '\n') name->pop_back();
    if (!name->empty()) text += ", " + Escaped(*name);
  }
  return text;
}

std::string HeldBy(pid_t pid) {
  if (pid == ::getpid()) return "held by another port of this program (" + Process(pid) + ")";
  return "held by another program (" + Process(pid) + ")";
}

// The lock file's name for `device`: "LCK.." and the last part of the
// device's real path. That is the FHS naming, and what picocom, tio and cu
// write for every device, also those in subfolders (/dev/pts/3 is
// LCK..3); the by-id and by-path links all lead to the one real device.
std::string LockFileOf(const std::string& device) {
  std::string real = device;
  if (char* resolved = ::realpath(device.c_str(), nullptr); resolved != nullptr) {
    real = resolved;
    std::free(resolved);
  }
  const std::size_t slash = real.rfind('/');
  return std::string(kLockFolder) + "/LCK.." +
         (slash == std::string::npos ? real : real.substr(slash + 1));
}

}  // namespace

std::optional<std::string> UucpLockHolder(const std::string& device) {
  const std::string lockFile = LockFileOf(device);
  const std::optional<std::string> content = ReadSmall(lockFile, 128);
  if (!content) return std::nullopt;
  // A lock whose process is gone is stale; its owner's successor removes
  // it, not us. Our own pid means the host locked the port for us.
  const std::optional<pid_t> pid = LockPid(*content);
  if (!pid || *pid == ::getpid() || !Alive(*pid)) return std::nullopt;
  return HeldBy(*pid) + " by its lock file " + Escaped(lockFile);
}

std::string FlockHolder(int fd) {
  constexpr const char* kUnknown = "held by another program";
  struct stat st {};
  if (::fstat(fd, &st) != 0) return kUnknown;
  const std::optional<std::string> locks = ReadSmall("/proc/locks", std::size_t{1} << 20);
  if (!locks) return kUnknown;
  // "1: FLOCK  ADVISORY  WRITE 1234 00:18:6 0 EOF": the holder's pid, then
  // the file system's device numbers in hex and the inode. Waiters ("1: ->
  // FLOCK ...") hold nothing.
  pid_t ours = 0;
  for (std::size_t start = 0; start < locks->size();) {
    std::size_t end = locks->find('\n', start);
    if (end == std::string::npos) end = locks->size();
    const std::string line = locks->substr(start, end - start);
    start = end + 1;
    char kind[16] = {};
    long pid = 0;
    unsigned major = 0;
    unsigned minor = 0;
    std::uintmax_t inode = 0;
    if (std::sscanf(line.c_str(), "%*d: %15s %*s %*s %ld %x:%x:%" SCNuMAX, kind, &pid, &major,
                    &minor, &inode) != 5) {
      continue;
    }
    if (std::strcmp(kind, "FLOCK") != 0 || pid <= 0 || pid > INT32_MAX) continue;
    if (major != ::major(st.st_dev) || minor != ::minor(st.st_dev) || inode != st.st_ino) continue;
    if (static_cast<pid_t>(pid) != ::getpid()) return HeldBy(static_cast<pid_t>(pid));
    ours = static_cast<pid_t>(pid);
  }
  return ours != 0 ? HeldBy(ours) : kUnknown;
}

}  // namespace vorne::posix

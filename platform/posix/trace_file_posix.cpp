// The trace file on POSIX: a non-blocking descriptor, and writes to pipes
// with SIGPIPE held back in the calling thread so the host's handlers and
// signal mask stay as they were.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/trace_file.h"

namespace vorne {

namespace {

int Descriptor(const TraceFile& file) { return static_cast<int>(file.handle); }

bool IsPipeOrSocket(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return false;
  return S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode);
}

ssize_t WriteHoldingSigpipe(int fd, const char* data, std::size_t size) {
  sigset_t pipeOnly;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  sigset_t before;
  if (pthread_sigmask(SIG_BLOCK, &pipeOnly, &before) != 0) return -1;
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
  ssize_t written;
  do {
    written = ::write(fd, data, size);
  } while (written < 0 && errno == EINTR);
  const int error = errno;
  if (written < 0 && error == EPIPE && !alreadyPending) {
    // The signal this write raised is ours: take it before unblocking.
    const timespec now{0, 0};
    while (sigtimedwait(&pipeOnly, nullptr, &now) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  errno = error;
  return written;
}

}  // namespace

bool OpenTraceFile(const char* name, TraceFile* file, std::string* reason) {
  *file = TraceFile{};
  if (std::strcmp(name, "-") == 0) {
    file->handle = STDERR_FILENO;
    file->pipe = IsPipeOrSocket(STDERR_FILENO);
    return true;
  }
  int fd;
  do {
    fd = ::open(name, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int error = errno;
    if (error == ENXIO) {
      *reason = "a fifo nobody reads";
    } else if (error == ELOOP) {
      *reason = "a symbolic link";
    } else {
      *reason = std::strerror(error);
    }
    return false;
  }
  file->handle = fd;
  file->owned = true;
  file->pipe = IsPipeOrSocket(fd);
  return true;
}

TraceWriteResult WriteTraceFile(const TraceFile& file, const char* data, std::size_t size) {
  const int fd = Descriptor(file);
  if (fd < 0) return TraceWriteResult::kGone;
  // Writes to regular files and devices cannot raise SIGPIPE; only pipes
  // pay for holding it back.
  const ssize_t written = file.pipe ? WriteHoldingSigpipe(fd, data, size) : [&] {
    ssize_t put;
    do {
      put = ::write(fd, data, size);
    } while (put < 0 && errno == EINTR);
    return put;
  }();
  if (written == static_cast<ssize_t>(size)) return TraceWriteResult::kWritten;
  if (written >= 0 || errno == EAGAIN || errno == EWOULDBLOCK) return TraceWriteResult::kDropped;
  return TraceWriteResult::kGone;
}

void CloseTraceFile(TraceFile* file) {
  if (file->owned && file->handle >= 0) ::close(Descriptor(*file));
  *file = TraceFile{};
}

void WriteStandardError(std::string_view text) {
  TraceFile standardError;
  standardError.handle = STDERR_FILENO;
  standardError.pipe = IsPipeOrSocket(STDERR_FILENO);
  WriteTraceFile(standardError, text.data(), text.size());
}

}  // namespace vorne

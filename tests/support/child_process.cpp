#include "support/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace vorne_test {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

milliseconds Left(Clock::time_point deadline) {
  return std::max(milliseconds(0),
                  std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
}

// Puts `fd` at `target` for the program. Only async-signal-safe calls: the
// child of a threaded test may run nothing else before exec.
void MoveTo(int fd, int target) {
  if (fd == target) {
    ::fcntl(fd, F_SETFD, 0);  // keep it across exec
  } else {
    ::dup2(fd, target);
  }
}

void CloseIfOpen(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// The test's environment with `extra` set over it, as NAME=value strings.
std::vector<std::string> Environment(const std::map<std::string, std::string>& extra) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string text(*entry);
    const std::string name = text.substr(0, text.find('='));
    if (extra.count(name) == 0) entries.push_back(text);
  }
  for (const auto& [name, value] : extra) entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

bool OutputReader::IsFile() const {
  struct stat info {};
  return fd_ >= 0 && ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
}

bool OutputReader::ReadFile() {
  char buffer[4096];
  const ssize_t n = ::pread(fd_, buffer, sizeof(buffer), static_cast<off_t>(fileOffset_));
  if (n <= 0) return false;
  text_.append(buffer, static_cast<std::size_t>(n));
  fileOffset_ += static_cast<std::size_t>(n);
  return true;
}

bool OutputReader::ReadSome(Clock::time_point deadline) {
  if (ended_ || fd_ < 0) return false;
  if (IsFile()) {
    if (ReadFile()) return true;
    // A file never says that no more will come: look again shortly.
    if (Left(deadline).count() == 0) return false;
    std::this_thread::sleep_for(std::min(Left(deadline), milliseconds(10)));
    return true;
  }
  pollfd wait{fd_, POLLIN, 0};
  const int ready = ::poll(&wait, 1, static_cast<int>(Left(deadline).count()));
  if (ready < 0 && errno == EINTR) return true;
  if (ready == 0) return false;
  char buffer[4096];
  const ssize_t n = ready < 0 ? -1 : ::read(fd_, buffer, sizeof(buffer));
  if (n < 0 && errno == EINTR) return true;
  if (n <= 0) {
    // End of a pipe, or EIO from a terminal that nobody holds any more.
    ended_ = true;
    return false;
  }
  text_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

bool OutputReader::WaitFor(const std::string& text, milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  while (text_.find(text) == std::string::npos) {
    if (!ReadSome(deadline)) break;
  }
  return text_.find(text) != std::string::npos;
}

std::string OutputReader::NextLine(milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    const std::size_t newline = text_.find('\n', lineStart_);
    if (newline != std::string::npos) {
      std::string line = text_.substr(lineStart_, newline - lineStart_);
      lineStart_ = newline + 1;
      return line;
    }
    if (!ReadSome(deadline)) return {};
  }
}

const std::string& OutputReader::ReadToEnd(milliseconds timeout) {
  if (IsFile()) {
    while (ReadFile()) {
    }
    return text_;
  }
  const Clock::time_point deadline = Clock::now() + timeout;
  while (ReadSome(deadline)) {
  }
  return text_;
}

void OutputReader::Detach() {
  fd_ = -1;
  ended_ = true;
}

ChildProcess::Capture ChildProcess::Open(Stream stream, const char* name) {
  Capture capture;
  switch (stream) {
    case Stream::kNull: capture.child = ::open("/dev/null", O_WRONLY | O_CLOEXEC); break;
    case Stream::kPipe: {
      int ends[2];
      if (::pipe2(ends, O_CLOEXEC) == 0) {
        capture.test = ends[0];
        capture.child = ends[1];
      }
      break;
    }
    case Stream::kFile: {
      std::string path = std::string("/tmp/vorne-child-") + name + "-XXXXXX";
      capture.test = ::mkostemp(path.data(), O_CLOEXEC);
      if (capture.test >= 0) {
        ::unlink(path.c_str());  // gone with the last descriptor
        capture.child = ::fcntl(capture.test, F_DUPFD_CLOEXEC, 0);
      }
      break;
    }
  }
  if (capture.child < 0 && error_.empty()) {
    error_ = std::string("no ") + name + " stream: " + std::strerror(errno);
  }
  return capture;
}

ChildProcess::ChildProcess(ChildCommand command) {
  const bool onTerminal = !command.terminal.empty();
  if (!onTerminal) {
    outCapture_ = Open(command.out, "out");
    errCapture_ = Open(command.err, "err");
  }
  out_ = OutputReader(outCapture_.test);
  err_ = OutputReader(errCapture_.test);
  int in = onTerminal ? -1 : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  int report[2] = {-1, -1};  // the child's errno when exec fails
  if (::pipe2(report, O_CLOEXEC) != 0) error_ = std::string("pipe: ") + std::strerror(errno);
  if (!error_.empty()) {
    CloseIfOpen(in);
    CloseIfOpen(report[0]);
    CloseIfOpen(report[1]);
    return;
  }

  std::vector<std::string> args{command.path};
  args.insert(args.end(), command.args.begin(), command.args.end());
  std::vector<std::string> env = Environment(command.env);
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);
  const char* terminal = command.terminal.c_str();
  const char* path = command.path.c_str();
  sigset_t none;
  sigemptyset(&none);

  pid_ = ::fork();
  if (pid_ == 0) {
    // The program starts as from a shell: no signals blocked, none ignored
    // that the tests send or that end a writer to a closed pipe.
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(number, SIG_DFL);
    int out = outCapture_.child;
    int err = errCapture_.child;
    if (onTerminal) {
      ::setsid();
      in = ::open(terminal, O_RDWR);  // the session's controlling terminal
      out = err = in;
    }
    const bool asUser =
        command.user < 0 || (::setgroups(0, nullptr) == 0 && ::setgid(command.group) == 0 &&
                             ::setuid(static_cast<uid_t>(command.user)) == 0);
    if (asUser && in >= 0 && out >= 0 && err >= 0) {
      MoveTo(in, 0);
      MoveTo(out, 1);
      MoveTo(err, 2);
      ::execve(path, argv.data(), envp.data());
    }
    const int why = errno;
    [[maybe_unused]] const ssize_t told = ::write(report[1], &why, sizeof(why));
    ::_exit(127);
  }
  if (pid_ < 0) error_ = std::string("fork: ") + std::strerror(errno);
  CloseIfOpen(in);
  CloseIfOpen(report[1]);
  CloseIfOpen(outCapture_.child);
  CloseIfOpen(errCapture_.child);
  if (pid_ > 0) {
    int why = 0;
    ssize_t n;
    do {
      n = ::read(report[0], &why, sizeof(why));
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof(why))) {
      error_ = "cannot run " + command.path + ": " + std::strerror(why);
    }
  }
  CloseIfOpen(report[0]);
}

ChildProcess::~ChildProcess() {
  if (Running()) {
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  CloseIfOpen(outCapture_.test);
  CloseIfOpen(errCapture_.test);
}

void ChildProcess::Signal(int number) {
  if (Running()) ::kill(pid_, number);
}

ChildExit ChildProcess::Wait(milliseconds bound) {
  if (!Running()) return exit_;
  const Clock::time_point deadline = Clock::now() + bound;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) break;
    if (done < 0 && errno != EINTR) {
      reaped_ = true;  // not ours to wait for any more
      return exit_;
    }
    if (done == 0 && Clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(milliseconds(2));
  }
  reaped_ = true;
  if (WIFEXITED(status)) exit_.code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) exit_.signal = WTERMSIG(status);
  return exit_;
}

void ChildProcess::CloseOut() {
  out_.Detach();
  CloseIfOpen(outCapture_.test);
}

}  // namespace vorne_test

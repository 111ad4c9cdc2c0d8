#include "stop_request.h"

#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

namespace vornectl {

namespace {

std::atomic<int> stopSignal{0};
std::atomic<int> activeRuns{0};
int wakeRead = -1;
int wakeWrite = -1;

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

void Wake() {
  const char byte = 1;
  if (wakeWrite >= 0 && ::write(wakeWrite, &byte, 1) < 0) {
    // The pipe is full: a wake-up is pending anyway.
  }
}

// A pipe on standard output reports POLLERR once its reader is gone; other
// outputs (terminal, file) are left out of the wait.
bool OutputIsPipe() {
  struct stat st {};
  return ::fstat(STDOUT_FILENO, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

// Waits for `fd` (or only for a stop when fd < 0) until `timeoutMs` (-1: no
// limit). True when fd became readable or the time ran out without a stop.
bool Wait(int fd, int timeoutMs) {
  const bool watchOutput = OutputIsPipe();
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (StopSignal() == 0) {
    pollfd fds[3] = {{wakeRead, POLLIN, 0}, {STDOUT_FILENO, 0, 0}, {fd, POLLIN, 0}};
    int left = -1;
    if (timeoutMs >= 0) {
      left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count());
      if (left <= 0) return true;
    }
    if (!watchOutput) fds[1].fd = -1;
    const int n = ::poll(fds, fd >= 0 ? 3 : 2, left);
    if (n < 0) continue;
    if ((fds[1].revents & (POLLERR | POLLHUP)) != 0) RequestStop(SIGPIPE);
    if (fd >= 0 && fds[2].revents != 0) return StopSignal() == 0;
  }
  return false;
}

}  // namespace

void InstallStopHandling() {
  std::signal(SIGPIPE, SIG_IGN);
  int fds[2];
  if (::pipe(fds) == 0) {
    wakeRead = fds[0];
    wakeWrite = fds[1];
  }
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    for (;;) {
      int sig = 0;
      if (sigwait(&set, &sig) != 0) continue;
      if (activeRuns.load() == 0) std::_Exit(128 + sig);
      RequestStop(sig);
    }
  }).detach();
}

ActiveRun::ActiveRun() { ++activeRuns; }
ActiveRun::~ActiveRun() { --activeRuns; }

int StopSignal() { return stopSignal.load(); }

void RequestStop(int signal) {
  int none = 0;
  if (stopSignal.compare_exchange_strong(none, signal)) Wake();
}

int StopExitCode() { return StopSignal() == 0 ? 0 : 128 + StopSignal(); }

bool SleepUnlessStopped(std::chrono::milliseconds duration) {
  return Wait(-1, static_cast<int>(duration.count()));
}

bool WaitReadable(int fd) { return Wait(fd, -1); }

void CheckOutput() {
  std::cout.flush();
  std::fflush(stdout);
  if (!std::cout || std::ferror(stdout) != 0) {
    RequestStop(SIGPIPE);
    // Nothing more can be shown there; keep later writes from piling up.
    std::cout.setstate(std::ios::badbit);
  }
}

}  // namespace vornectl

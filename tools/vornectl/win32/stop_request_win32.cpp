// Ways a run is asked to end early on Windows: Ctrl-C, Ctrl-Break and the
// console closing arrive through the console control handler, which wakes
// any wait; a closed output is noticed by the write that fails.
#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "stop_request.h"

namespace vornectl {

namespace {

std::atomic<int> stopSignal{0};
std::atomic<int> activeRuns{0};
HANDLE wake = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  const int signal = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
  // Outside a run there is nothing to stop: end as a signal would.
  if (activeRuns.load() == 0) std::_Exit(128 + signal);
  RequestStop(signal);
  return TRUE;
}

}  // namespace

void InstallStopHandling() {
  wake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

ActiveRun::ActiveRun() { ++activeRuns; }
ActiveRun::~ActiveRun() { --activeRuns; }

int StopSignal() { return stopSignal.load(); }

void RequestStop(int signal) {
  int none = 0;
  if (stopSignal.compare_exchange_strong(none, signal) && wake != nullptr) ::SetEvent(wake);
}

int StopExitCode() { return StopSignal() == 0 ? 0 : 128 + StopSignal(); }

bool SleepUnlessStopped(std::chrono::milliseconds duration) {
  if (StopSignal() != 0) return false;
  if (wake == nullptr) {
    ::Sleep(static_cast<DWORD>(duration.count()));
  } else {
    ::WaitForSingleObject(wake, static_cast<DWORD>(duration.count()));
  }
  return StopSignal() == 0;
}

// Only the interactive mode waits for input, and it is not built here.
bool WaitReadable(int) { return false; }

void CheckOutput() {
  std::cout.flush();
  std::fflush(stdout);
  if (!std::cout || std::ferror(stdout) != 0) {
    RequestStop(SIGTERM);
    std::cout.setstate(std::ios::badbit);
  }
}

}  // namespace vornectl

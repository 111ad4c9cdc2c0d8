// Ways a run is asked to end early: SIGINT, SIGTERM and SIGHUP, and a closed
// output. They never end the process on the spot: the run notices, leaves
// through its normal end (stop, destroy, unload, restore the terminal) and
// exits with the conventional code.
#ifndef VORNE_VORNECTL_STOP_REQUEST_H
#define VORNE_VORNECTL_STOP_REQUEST_H

#include <chrono>

namespace vornectl {

// Blocks the three signals in every thread and hands them to a watcher
// thread; ignores SIGPIPE so that a closed output shows up as EPIPE. Call
// first thing in main, before any other thread exists.
void InstallStopHandling();

// While a run is active the signals only ask it to stop; otherwise (types,
// demo, parsing) they end the program at once with 128 + signal.
class ActiveRun {
 public:
  ActiveRun();
  ~ActiveRun();
  ActiveRun(const ActiveRun&) = delete;
  ActiveRun& operator=(const ActiveRun&) = delete;
};

// The signal that asked to stop (SIGPIPE for a closed output), or 0.
int StopSignal();
// Records a stop asked for by the program itself (a closed output, Ctrl-C
// typed in raw mode).
void RequestStop(int signal);
// The exit code for a stopped run: 130 for SIGINT, 128 + n otherwise.
int StopExitCode();

// Sleeps for `duration` unless a stop is asked for first; false then. A
// pipe on standard output whose reader went away counts as a stop.
bool SleepUnlessStopped(std::chrono::milliseconds duration);
// Waits until `fd` is readable or a stop is asked for; false on a stop.
bool WaitReadable(int fd);

// Call after writing to standard output: a failed write (EPIPE) asks to stop.
void CheckOutput();

}  // namespace vornectl

#endif

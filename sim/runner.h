// Runs one simulated camera on a serial line: a new pseudo-terminal, or an
// existing serial device. A thread reads the line, feeds the camera, writes
// its replies back and keeps a log of events that other threads read or
// wait on.
#ifndef VORNE_SIM_RUNNER_H
#define VORNE_SIM_RUNNER_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/camera.h"
#include "sim/clock.h"
#include "sim/fd.h"
#include "sim/protocol.h"

namespace sim {

struct RunnerOptions {
  // Drives the camera's motion; the line's own timing is always real time.
  std::shared_ptr<const Clock> clock = DefaultClock();
  // Act only on frames for this address (see Camera::SetAddress).
  std::optional<int> address;
  ReplyMode replyMode = ReplyMode::kRight;
  Duration replyDelay = kDefaultReplyDelay;
  // Bytes held back for a frame still incomplete are decided after the line
  // has been quiet this long.
  Duration quietTime = std::chrono::milliseconds(100);
  // Line speed of a serial device (a pseudo-terminal has none).
  int baudRate = 9600;
  // Events kept for Events(); older ones are dropped, counts go on.
  std::size_t logLimit = 10000;
  // Called on the runner's thread for every event, in order. It must not
  // call Stop or destroy the runner.
  std::function<void(const Event&)> onEvent;
};

class Runner {
 public:
  // Opens a new pseudo-terminal. Throws std::runtime_error when the system
  // refuses.
  static std::unique_ptr<Runner> OnPty(Protocol protocol, RunnerOptions options = {});
  // Opens a serial device, raw, 8N1 at options.baudRate. Throws
  // std::runtime_error naming the path and the reason when it cannot.
  static std::unique_ptr<Runner> OnDevice(Protocol protocol, const std::string& path,
                                          RunnerOptions options = {});

  ~Runner();
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  // Where a client connects: the pseudo-terminal's slave path, or the device.
  const std::string& Path() const { return path_; }
  Protocol protocol() const { return protocol_; }
  // The line the module reads for COM port `port` (1-based).
  std::string EnvironmentLine(int port) const;

  // Ends the thread; idempotent. Pending bytes are reported first.
  void Stop();
  // False once stopped, or when the line was lost (see the last notice).
  bool Running() const { return running_.load(); }

  // The log since the start or the last ClearEvents, oldest first.
  std::vector<Event> Events() const;
  // Only the frames of the log.
  std::vector<Event> Frames() const;
  void ClearEvents();
  // Waits until the log holds at least `count` frames; false on timeout.
  bool WaitForFrames(std::size_t count, Duration timeout) const;
  // Waits until `ready` holds for the log; false on timeout.
  bool WaitFor(const std::function<bool(const std::vector<Event>&)>& ready, Duration timeout) const;

  CameraState State() const;
  void SetReplyMode(ReplyMode mode);
  void SetReplyDelay(Duration delay);

 private:
  Runner(Protocol protocol, RunnerOptions options, Fd line, Fd slave, Fd watch, std::string path);
  void Loop();
  void Record(std::vector<Event> events);
  void Notice(std::string text);
  bool ReadLine();
  void WriteDueReplies();
  void TrackClients();

  struct Pending {
    std::chrono::steady_clock::time_point due;
    Reply reply;
  };

  const Protocol protocol_;
  const RunnerOptions options_;
  Fd line_;   // the pty master or the device
  Fd slave_;  // held so clients opening and closing the slave never hang up the line
  // Reports clients opening and closing the slave (Linux), so that bytes the
  // camera sends while no client has the port open are lost, as on a real
  // port, instead of waiting in the line for the next client.
  Fd watch_;
  Fd wakeRead_;
  Fd wakeWrite_;
  const std::string path_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Camera camera_;
  std::deque<Event> log_;
  std::size_t frames_ = 0;  // frames since the last ClearEvents, including dropped ones

  std::vector<Pending> replies_;  // the loop's own
  int clients_ = 0;               // the loop's own: clients with the slave open
  std::chrono::steady_clock::time_point lastByte_;
  std::atomic<bool> running_{true};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace sim

#endif

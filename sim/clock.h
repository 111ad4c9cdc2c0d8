// Time sources for the simulated cameras: the steady clock in programs, a
// hand-driven one in tests so that motion can be checked to the millisecond.
#ifndef VORNE_SIM_CLOCK_H
#define VORNE_SIM_CLOCK_H

#include <atomic>
#include <chrono>
#include <memory>

namespace sim {

using Duration = std::chrono::steady_clock::duration;
using TimePoint = std::chrono::steady_clock::time_point;

class Clock {
 public:
  virtual ~Clock() = default;
  virtual TimePoint Now() const = 0;
};

class SteadyClock final : public Clock {
 public:
  TimePoint Now() const override { return std::chrono::steady_clock::now(); }
};

// Starts at an arbitrary fixed point and moves only when told. Safe to read
// from one thread while another advances it.
class ManualClock final : public Clock {
 public:
  TimePoint Now() const override { return TimePoint(Duration(now_.load())); }
  void Advance(Duration by) { now_ += by.count(); }

 private:
  std::atomic<Duration::rep> now_{Duration(std::chrono::hours(1)).count()};
};

// The process-wide steady clock, shared.
std::shared_ptr<const Clock> DefaultClock();

}  // namespace sim

#endif

// The system's tick and sleep on POSIX: the monotonic clock and nanosleep.
#include <sched.h>
#include <time.h>

#include <cerrno>

#include "platform/clock.h"

namespace vorne {

std::uint32_t SystemTickCount() noexcept {
  timespec now{};
  // The monotonic clock never jumps with the wall clock, like the tick it
  // stands for.
  clock_gettime(CLOCK_MONOTONIC, &now);
  const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

void SystemSleep(std::uint32_t ms) noexcept {
  if (ms == 0) {
    sched_yield();
    return;
  }
  timespec left{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
  // A signal cuts the sleep short; the rest is slept after it.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace vorne

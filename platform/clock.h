// The system's millisecond tick and a plain sleep, in the shape of the
// Windows kernel calls, for waits that poll.
#ifndef VORNE_PLATFORM_CLOCK_H
#define VORNE_PLATFORM_CLOCK_H

#include <cstdint>

namespace vorne {

// Milliseconds since an arbitrary start, kept to 32 bits: the count wraps
// to 0 after about 49.7 days, so callers measure with unsigned differences.
std::uint32_t GetTickCount() noexcept;

// Blocks the calling thread for at least `ms` milliseconds; 0 only gives up
// the rest of the time slice.
void Sleep(std::uint32_t ms) noexcept;

// Where GetTickCount reads its ticks. Replaceable so that a test can run a
// wait across the 32-bit wrap; null restores the system's tick.
using TickSource = std::uint32_t (*)();

// Installs `source` and returns the one it replaces (null for the system's).
TickSource SetTickSource(TickSource source) noexcept;

// The system's own tick, whatever source is installed.
std::uint32_t SystemTickCount() noexcept;

// Where Sleep goes instead of the system's sleep, so that a test can run
// waits on a clock of its own; null restores the system's sleep.
using SleepSink = void (*)(std::uint32_t ms);

// Installs `sink` and returns the one it replaces (null for the system's).
SleepSink SetSleepSink(SleepSink sink) noexcept;

// The system's own sleep, whatever sink is installed.
void SystemSleep(std::uint32_t ms) noexcept;

}  // namespace vorne

#endif

#include <sched.h>
#include <time.h>

#include <atomic>
#include <cerrno>

#include "platform/clock.h"

namespace vorne {

namespace {

std::atomic<TickSource> installedSource{nullptr};
std::atomic<SleepSink> installedSleep{nullptr};

}  // namespace

std::uint32_t SystemTickCount() noexcept {
  timespec now{};
  // The monotonic clock never jumps with the wall clock, like the tick it
  // stands for.
  clock_gettime(CLOCK_MONOTONIC, &now);
  const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

std::uint32_t GetTickCount() noexcept {
  const TickSource source = installedSource.load(std::memory_order_acquire);
  return source != nullptr ? source() : SystemTickCount();
}

TickSource SetTickSource(TickSource source) noexcept {
  return installedSource.exchange(source, std::memory_order_acq_rel);
}

SleepSink SetSleepSink(SleepSink sink) noexcept {
  return installedSleep.exchange(sink, std::memory_order_acq_rel);
}

void Sleep(std::uint32_t ms) noexcept {
  if (const SleepSink sink = installedSleep.load(std::memory_order_acquire)) {
    sink(ms);
    return;
  }
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

// Ticks and sleeps on Windows: the kernel's own calls.
#include <windows.h>

#include <atomic>

#include "platform/clock.h"

namespace vorne {

namespace {

std::atomic<TickSource> installedSource{nullptr};
std::atomic<SleepSink> installedSleep{nullptr};

}  // namespace

std::uint32_t SystemTickCount() noexcept { return ::GetTickCount(); }

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

// Sleep(0) gives up the rest of the time slice, as the caller expects.
void Sleep(std::uint32_t ms) noexcept {
  if (const SleepSink sink = installedSleep.load(std::memory_order_acquire)) {
    sink(ms);
    return;
  }
  ::Sleep(ms);
}

}  // namespace vorne

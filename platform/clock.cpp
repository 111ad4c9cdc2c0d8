// The tick and the sleep the module calls, with the stand-ins a test may
// install; the system's own come from the backend.
#include "platform/clock.h"

#include <atomic>

namespace vorne {

namespace {

std::atomic<TickSource> installedSource{nullptr};
std::atomic<SleepSink> installedSleep{nullptr};

}  // namespace

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
  SystemSleep(ms);
}

}  // namespace vorne

// Atomic counters in the shape of the Windows interlocked calls.
#ifndef VORNE_PLATFORM_INTERLOCKED_H
#define VORNE_PLATFORM_INTERLOCKED_H

#include <atomic>
#include <cstdint>

namespace vorne {

// Both return the new value, as the Windows calls do.
inline std::int32_t InterlockedIncrement(std::atomic<std::int32_t>* value) noexcept {
  return value->fetch_add(1) + 1;
}

inline std::int32_t InterlockedDecrement(std::atomic<std::int32_t>* value) noexcept {
  return value->fetch_sub(1) - 1;
}

}  // namespace vorne

#endif

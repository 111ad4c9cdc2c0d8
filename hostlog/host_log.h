// The channel to the host's log sink.
#ifndef VORNE_HOSTLOG_HOST_LOG_H
#define VORNE_HOSTLOG_HOST_LOG_H

#include <cstdint>

#include "vorne/ptz_plugin.h"

namespace vorne {

// Host objects and sinks may come from C or any other language, with tables
// that carry no C++ type information; the sanitizer build's vptr check would
// take every call into them for a wrong dynamic type.
#if defined(__GNUC__) || defined(__clang__)
#define VORNE_CALLS_HOST_OBJECTS __attribute__((no_sanitize("vptr")))
#else
#define VORNE_CALLS_HOST_OBJECTS
#endif

// The module-wide sink: null until a creation obtains it from the host
// object, released at unload. The module owns the one reference it holds.
extern IHostLog* HostLog;

// Asks the host object for its log factory and the factory for a sink.
VORNE_CALLS_HOST_OBJECTS HRESULT AttachHostLog(IUnknown* host, const char16_t* name, std::int32_t a,
                                               std::int32_t b) noexcept;

// Drops the sink. Returns 0.
VORNE_CALLS_HOST_OBJECTS int ReleaseHostLog() noexcept;

// Forgets the sink without calling it: at process exit the host's objects
// may already be destroyed.
void AbandonHostLog() noexcept;

// Writes one line when a sink is attached; every argument goes out as a
// 32-bit signed integer, one for each %d of the format.
template <typename... Args>
VORNE_CALLS_HOST_OBJECTS void HostLogLine(const char16_t* format, Args... args) noexcept {
  if (HostLog != nullptr) {
    HostLog->Log(format, static_cast<std::int32_t>(args)...);
  }
}

}  // namespace vorne

#endif

// Host-side formatting of the module's UTF-16 log lines.
#ifndef VORNE_HOSTKIT_LOG_FORMAT_H
#define VORNE_HOSTKIT_LOG_FORMAT_H

#include <cstdarg>
#include <string>
#include <string_view>

namespace hostkit {

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);

// Formats one log line as UTF-8. The module's formats use %d with 32-bit
// integer arguments and %% only; anything else is copied as it stands.
std::string FormatLogLine(const char16_t* format, va_list args);

}  // namespace hostkit

#endif

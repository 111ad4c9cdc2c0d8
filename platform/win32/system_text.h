// The system's text for an error code, as the wire trace shows it.
#ifndef VORNE_PLATFORM_WIN32_SYSTEM_TEXT_H
#define VORNE_PLATFORM_WIN32_SYSTEM_TEXT_H

#include <windows.h>

#include <string>

namespace vorne {

// "Access is denied." for ERROR_ACCESS_DENIED, without the line break the
// system ends it with; the number when the system has no text for it.
inline std::string SystemText(DWORD error) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
      nullptr);
  std::string reason = length > 0 && text != nullptr ? std::string(text, length) : std::string();
  if (text != nullptr) ::LocalFree(text);
  while (!reason.empty() &&
         (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) {
    reason.pop_back();
  }
  return reason.empty() ? "system error " + std::to_string(error) : reason;
}

}  // namespace vorne

#endif

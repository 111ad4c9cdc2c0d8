// The system's tick and sleep on Windows: the kernel's own calls.
#include <windows.h>

#include "platform/clock.h"

namespace vorne {

std::uint32_t SystemTickCount() noexcept { return ::GetTickCount(); }

// Sleep(0) gives up the rest of the time slice, as the caller expects.
void SystemSleep(std::uint32_t ms) noexcept { ::Sleep(ms); }

}  // namespace vorne

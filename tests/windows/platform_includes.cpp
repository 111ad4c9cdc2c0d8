// A Windows backend includes <windows.h> and the platform headers in either
// order (VORNE_HEADER_FIRST 0 and 1): the module's names live in its own
// namespace and never collide with the system's.
// The order is the test.
// clang-format off
#if VORNE_HEADER_FIRST
#include "platform/app.h"
#include "platform/clock.h"
#include "platform/comm_control.h"
#include "platform/control.h"
#include "platform/dynamic_library.h"
#include "platform/interlocked.h"
#include "platform/serial_port.h"
#include "platform/variant.h"
#include "platform/window.h"
#include "platform/wire_trace.h"
#include <windows.h>
#else
#include <windows.h>
#include "platform/app.h"
#include "platform/clock.h"
#include "platform/comm_control.h"
#include "platform/control.h"
#include "platform/dynamic_library.h"
#include "platform/interlocked.h"
#include "platform/serial_port.h"
#include "platform/variant.h"
#include "platform/window.h"
#include "platform/wire_trace.h"

using namespace vorne;
#endif
// clang-format on

// Both sides' names, side by side.
DWORD VornePlatformCheck() { return ::GetTickCount() + vorne::GetTickCount(); }

// The subcommands that need a terminal in raw mode, the system's serial
// device list or the camera simulators (pseudo-terminals) are Linux-only,
// and so is reading who may open a device.
#include <iostream>

#include "commands.h"
#include "line_check.h"

namespace vornectl {

namespace {

int Unavailable(const char* command) {
  std::cerr << "vornectl: '" << command << "' is not available in the Windows build\n";
  return kExitUsage;
}

}  // namespace

int RunInteractive(const CameraOptions&, Reporter&) { return Unavailable("interactive"); }
int RunPorts() { return Unavailable("ports"); }
int RunDemo(const DemoOptions&) { return Unavailable("demo"); }

// Windows gives no owner and mode to read: the system's own reason stands.
std::string PermissionAdvice(const std::string&, bool) {
  return "another program or the port's security settings refuse it";
}

}  // namespace vornectl

// The subcommands that need a terminal in raw mode, the system's serial
// device list or the camera simulators (pseudo-terminals) are Linux-only.
#include <iostream>

#include "commands.h"

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

}  // namespace vornectl

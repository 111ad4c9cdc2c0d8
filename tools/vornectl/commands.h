// The subcommands of vornectl.
#ifndef VORNE_VORNECTL_COMMANDS_H
#define VORNE_VORNECTL_COMMANDS_H

#include <string>
#include <vector>

#include "session.h"

namespace vornectl {

// Exit codes: 0 success, 1 the module or a camera failed, 2 usage or load
// error; a run ended by a signal exits with 128 + its number (130 for Ctrl-C,
// 141 for a closed output).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct CommonOptions {
  std::string modulePath;  // empty: vorne.so beside the program
};

class Reporter;

int RunTypes(const CommonOptions& options);
// "" when the actions can all be sent; otherwise why not.
std::string CheckActions(const std::vector<Action>& actions);
int RunMove(const CameraOptions& options, const std::vector<Action>& actions, Reporter& reporter);
int RunInteractive(const CameraOptions& options, Reporter& reporter);
// Serial devices, their stable names and what VORNE_COMn maps now.
int RunPorts();

struct DemoOptions {
  std::string modulePath;
  std::vector<std::int32_t> types;  // empty: all eight
  bool compact = false;
};
int RunDemo(const DemoOptions& options);

}  // namespace vornectl

#endif

// The subcommands of vornectl.
#ifndef VORNE_VORNECTL_COMMANDS_H
#define VORNE_VORNECTL_COMMANDS_H

#include <string>
#include <vector>

#include "session.h"

namespace vornectl {

// Exit codes: 0 success, 1 the module or a camera failed, 2 usage or load error.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct CommonOptions {
  std::string modulePath;  // empty: vorne.so beside the program
};

int RunTypes(const CommonOptions& options);
int RunMove(const CameraOptions& options, const std::vector<Action>& actions);
int RunInteractive(const CameraOptions& options);

struct DemoOptions {
  std::string modulePath;
  std::vector<std::int32_t> types;  // empty: all eight
  bool compact = false;
};
int RunDemo(const DemoOptions& options);

}  // namespace vornectl

#endif

// vornectl move: settings, then a list of actions, sent through the module.
#include <chrono>
#include <iostream>
#include <thread>

#include "commands.h"
#include "session.h"

namespace vornectl {

int RunMove(const CameraOptions& options, const std::vector<Action>& actions) {
  Session session(std::cerr);
  if (const int code = session.Open(options); code != 0) return code;
  for (const Action& action : actions) {
    if (action.kind == Action::kSleep) {
      std::this_thread::sleep_for(std::chrono::milliseconds(action.value));
      continue;
    }
    std::cout << action.word << std::endl;
    session.Command(action.value, action.word);
  }
  session.Close();
  if (session.Failed()) {
    std::cerr << "vornectl: something failed (see above); VORNE_TRACE=- shows what reached the "
                 "port and why an open failed\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace vornectl

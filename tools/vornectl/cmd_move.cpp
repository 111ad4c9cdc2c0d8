// vornectl move: settings, then a list of actions, sent through the module.
#include <iostream>

#include "commands.h"
#include "report.h"
#include "session.h"
#include "stop_request.h"

namespace vornectl {

namespace {

enum class Group { kNone, kPanTilt, kZoom };

Group GroupOf(std::int32_t command) {
  if (command >= PTZ_PAN_LEFT && command <= PTZ_TILT_DOWN) return Group::kPanTilt;
  if (command == PTZ_ZOOM_IN || command == PTZ_ZOOM_OUT) return Group::kZoom;
  return Group::kNone;
}

}  // namespace

std::string CheckActions(const std::vector<Action>& actions) {
  // The module refuses a second motion of a moving group until a stop and
  // says nothing; such a list is refused whole, before anything moves.
  std::string panTilt, zoom;
  for (const Action& action : actions) {
    if (action.kind != Action::kCommand) continue;
    const Group group = GroupOf(action.value);
    if (group == Group::kNone) {
      panTilt.clear();
      zoom.clear();
      continue;
    }
    std::string& moving = group == Group::kPanTilt ? panTilt : zoom;
    if (!moving.empty()) {
      return "'" + action.word + "' while '" + moving +
             "' is still moving: the module refuses a second " +
             (group == Group::kPanTilt ? "pan or tilt" : "zoom") +
             " until a stop; put 'stop' before '" + action.word + "'";
    }
    moving = action.word;
  }
  return {};
}

int RunMove(const CameraOptions& options, const std::vector<Action>& actions, Reporter& reporter) {
  ActiveRun run;
  int code = kExitOk;
  {
    Session session(reporter);
    code = session.Open(options);
    for (std::size_t i = 0; code == kExitOk && i < actions.size() && StopSignal() == 0; ++i) {
      const Action& action = actions[i];
      if (action.kind == Action::kSleep) {
        SleepUnlessStopped(std::chrono::milliseconds(action.value));
      } else {
        session.Command(action.value, action.word);
      }
    }
    session.Close();
    if (code == kExitOk && session.Failed()) {
      reporter.Error(
          "something failed (see above); VORNE_TRACE=- shows what reached the port and why");
      code = kExitFailed;
    }
  }
  if (StopSignal() != 0) return StopExitCode();
  return code;
}

}  // namespace vornectl

// vornectl: a host program for the VORNE module. It loads vorne.so with
// dlopen and reaches it through LumoDll only.
#include <CLI/CLI.hpp>
#include <iostream>

#include "commands.h"

namespace {

using namespace vornectl;

struct CameraArgs {
  std::string type;
  int port = 0;
  std::optional<int> baud;
  std::optional<int> address;
  int camera = 0;
};

void AddCameraOptions(CLI::App* cmd, CameraArgs& args) {
  cmd->add_option("--type", args.type, "camera type, by name or id")->required();
  cmd->add_option("--port", args.port, "COM port number, 1 to 4")
      ->required()
      ->check(CLI::Range(1, 4));
  cmd->add_option("--baud", args.baud, "baud rate (default 9600)");
  cmd->add_option("--address", args.address, "camera address code");
  cmd->add_option("--camera", args.camera, "camera number (vendor-library types)");
}

// Fills the module options; false (with a message) for an unknown type.
bool ToCameraOptions(const CameraArgs& args, const std::string& modulePath, CameraOptions* out) {
  const auto type = ParseType(args.type);
  if (!type) {
    std::cerr << "vornectl: unknown camera type '" << args.type
              << "'; choose one of: " << TypeChoices() << "\n";
    return false;
  }
  out->modulePath = modulePath;
  out->type = *type;
  out->port = args.port;
  out->baud = args.baud;
  out->address = args.address;
  out->camera = args.camera;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"vornectl: steer PTZ cameras through the VORNE module"};
  app.require_subcommand(1);
  CommonOptions common;
  app.add_option("--module", common.modulePath, "path of vorne.so (default: beside vornectl)");

  int exitCode = kExitOk;
  CLI::App* types = app.add_subcommand("types", "list the camera types the module serves");
  types->callback([&] { exitCode = RunTypes(common); });

  CameraArgs moveArgs;
  std::vector<std::string> words;
  CLI::App* move = app.add_subcommand("move", "apply settings and send a list of actions");
  AddCameraOptions(move, moveArgs);
  move->add_option("actions", words, "actions: " + ActionChoices())->required();
  move->callback([&] {
    CameraOptions options;
    if (!ToCameraOptions(moveArgs, common.modulePath, &options)) {
      exitCode = kExitUsage;
      return;
    }
    std::vector<Action> actions;
    for (std::size_t i = 0; i < words.size(); ++i) {
      bool usedNext = false;
      const std::string next = i + 1 < words.size() ? words[i + 1] : std::string();
      const auto action = ParseAction(words[i], next, &usedNext);
      if (!action) {
        std::cerr << "vornectl: unknown action '" << words[i]
                  << (words[i] == "sleep" ? " " + next : "")
                  << "'; actions are: " << ActionChoices() << "\n";
        exitCode = kExitUsage;
        return;
      }
      actions.push_back(*action);
      if (usedNext) ++i;
    }
    exitCode = RunMove(options, actions);
  });

  CameraArgs keysArgs;
  CLI::App* interactive =
      app.add_subcommand("interactive", "steer with the keyboard: arrows, + and -, space, q");
  AddCameraOptions(interactive, keysArgs);
  interactive->callback([&] {
    CameraOptions options;
    if (!ToCameraOptions(keysArgs, common.modulePath, &options)) {
      exitCode = kExitUsage;
      return;
    }
    exitCode = RunInteractive(options);
  });

  std::vector<std::string> demoTypes;
  bool demoAll = false;
  DemoOptions demo;
  CLI::App* demoCmd = app.add_subcommand(
      "demo", "every camera type moving on simulated cameras and stand-in libraries");
  auto* typeOption =
      demoCmd->add_option("--type", demoTypes, "camera types to show, by name or id");
  demoCmd->add_flag("--all", demoAll, "show all eight camera types (the default)")
      ->excludes(typeOption);
  demoCmd->add_flag("--compact", demo.compact, "one line per frame, no camera state");
  demoCmd->callback([&] {
    demo.modulePath = common.modulePath;
    for (const std::string& name : demoTypes) {
      const auto type = ParseType(name);
      if (!type) {
        std::cerr << "vornectl: unknown camera type '" << name
                  << "'; choose one of: " << TypeChoices() << "\n";
        exitCode = kExitUsage;
        return;
      }
      demo.types.push_back(*type);
    }
    exitCode = RunDemo(demo);
  });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }
  return exitCode;
}

// vornectl: a host program for the VORNE module. It loads vorne.so with
// dlopen and reaches it through LumoDll only.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "commands.h"
#include "line_check.h"
#include "report.h"
#include "stop_request.h"

namespace {

using namespace vornectl;

constexpr const char* kFooter = R"(Environment:
  VORNE_COMn    the device COM port n opens (n = 1 to 4); without it /dev/ttyS<n-1>.
                --device PATH sets it for the run.
  VORNE_TRACE   "-" (standard error) or a file: the module's wire trace, a line per
                port open, bytes out and in, close and failure. vornectl reads it to
                judge each exchange and shows it with --json.
  NO_COLOR      set and not empty: no colour, also on a terminal.

Exit codes:
  0    every call succeeded
  1    a call failed, the module logged a failure or the trace shows a failed exchange
  2    bad arguments, or the module or a vendor library cannot be found
  128+n  ended by signal n after stopping the camera: 130 Ctrl-C, 129 hangup,
       143 SIGTERM, 141 closed output

move refuses a list with a second motion of a moving group (left ... right
without a stop between): the module would refuse that motion silently.)";

struct CameraArgs {
  std::string type;
  int port = 0;
  std::optional<int> baud;
  std::optional<int> address;
  int camera = 0;
};

// Camera options are accepted before or after the subcommand: they live on
// the program, and the subcommands pass what they do not know up to it.
void AddCameraOptions(CLI::App& app, CameraArgs& args) {
  const std::string group = "Camera (move, interactive)";
  app.add_option("--type", args.type, "camera type, by name or id (see 'vornectl types')")
      ->group(group);
  app.add_option("--port", args.port,
                 "COM port number, 1 to 4 (serial types; default 1 with --device)")
      ->check(CLI::Range(1, 4))
      ->group(group);
  app.add_option("--baud", args.baud, "baud rate (default 9600; serial types)")->group(group);
  app.add_option("--address", args.address, "camera address code (PELCO_D 0-255, PELCO_P 1-256)")
      ->group(group);
  app.add_option("--camera", args.camera, "camera number (vendor-library types)")->group(group);
}

// Fills the module options and checks them; an exit code on failure.
std::optional<int> ToCameraOptions(const CameraArgs& args, const std::string& modulePath,
                                   const std::string& device, Reporter& reporter,
                                   CameraOptions* out) {
  if (args.type.empty()) {
    reporter.Error("--type is required; choose one of: " + TypeChoices());
    return kExitUsage;
  }
  const auto type = ParseType(args.type);
  if (!type) {
    reporter.Error("unknown camera type '" + args.type + "'; choose one of: " + TypeChoices());
    return kExitUsage;
  }
  const std::string name = TypeNames()[static_cast<std::size_t>(*type)];
  out->modulePath = modulePath.empty() ? hostkit::ModuleBesideProgram() : modulePath;
  out->type = *type;
  out->port = args.port;
  out->baud = args.baud;
  out->address = args.address;
  out->camera = args.camera;

  const CheckResult check = CheckSettings(*type, args.baud, args.address);
  for (const std::string& warning : check.warnings) reporter.Warn(warning);
  if (IsVendorType(*type)) {
    if (!device.empty() || args.port != 0) {
      reporter.Error(name + " uses no serial port: its vendor library drives the camera");
      return kExitUsage;
    }
    if (!check.errors.empty()) {
      for (const std::string& error : check.errors) reporter.Error(error);
      return kExitUsage;
    }
    // Without its library the module still creates the camera, and every
    // command then does nothing.
    const std::filesystem::path library =
        std::filesystem::absolute(out->modulePath).parent_path() / VendorLibraryName(*type);
    if (!std::filesystem::exists(library)) {
      reporter.Error(name + " needs its vendor library " + library.string() +
                     ", which is missing: put the camera maker's " + VendorLibraryName(*type) +
                     " beside the module (see docs/VENDOR_LIBRARIES.md)");
      return kExitUsage;
    }
    reporter.Say(name + " through " + library.string() + ", camera " + std::to_string(args.camera));
    return std::nullopt;
  }
  if (args.port == 0) {
    if (device.empty()) {
      reporter.Error(name + " needs --port N (COM1 to COM4) or --device PATH");
      return kExitUsage;
    }
    out->port = 1;
  }
  if (!check.errors.empty()) {
    for (const std::string& error : check.errors) reporter.Error(error);
    return kExitUsage;
  }
  const std::string variable = "VORNE_COM" + std::to_string(out->port);
  if (!device.empty()) setenv(variable.c_str(), device.c_str(), 1);
  const char* set = std::getenv(variable.c_str());
  reporter.Say(name + " on COM" + std::to_string(out->port) + " = " + DeviceOfPort(out->port) +
               " (" +
               (!device.empty()                  ? std::string("--device")
                : set != nullptr && *set != '\0' ? variable
                                                 : variable + " not set") +
               "), " + std::to_string(args.baud.value_or(9600)) + ",n,8,1" +
               (args.address ? ", address code " + std::to_string(*args.address) : ""));
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  InstallStopHandling();
  CLI::App app{"vornectl: steer PTZ cameras through the VORNE module", "vornectl"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("vornectl ") + VORNE_VERSION);
  app.footer(kFooter);
  CommonOptions common;
  std::string device;
  bool json = false;
  app.add_option("--module", common.modulePath, "path of vorne.so (default: beside vornectl)");
  app.add_option("--device", device,
                 "serial device for the COM port (sets VORNE_COMn for the run)");
  app.add_flag("--json", json, "one JSON object per host call on standard output");
  CameraArgs cameraArgs;
  AddCameraOptions(app, cameraArgs);

  int exitCode = kExitOk;
  CLI::App* types = app.add_subcommand("types", "list the camera types the module serves");
  types->fallthrough();
  types->callback([&] { exitCode = RunTypes(common); });

  CLI::App* ports = app.add_subcommand("ports", "list serial devices and what VORNE_COMn maps");
  ports->fallthrough();
  ports->callback([&] { exitCode = RunPorts(); });

  std::vector<std::string> words;
  CLI::App* move = app.add_subcommand(
      "move", "apply the settings, send a list of actions, then stop the camera");
  move->fallthrough();
  move->add_option("actions", words, "actions: " + ActionChoices())->required();

  CLI::App* interactive =
      app.add_subcommand("interactive", "steer with the keyboard: arrows, + and -, space, q");
  interactive->fallthrough();

  std::vector<std::string> demoTypes;
  bool demoAll = false;
  DemoOptions demo;
  CLI::App* demoCmd = app.add_subcommand(
      "demo", "every camera type moving on simulated cameras and stand-in libraries");
  demoCmd->fallthrough();
  auto* typeOption =
      demoCmd->add_option("--type", demoTypes, "camera types to show, by name or id");
  demoCmd->add_flag("--all", demoAll, "show all eight camera types (the default)")
      ->excludes(typeOption);
  demoCmd->add_flag("--compact", demo.compact, "one line per frame, no camera state");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }

  Reporter reporter(json ? Reporter::Mode::kJson : Reporter::Mode::kText);
  if (move->parsed()) {
    std::vector<Action> actions;
    for (std::size_t i = 0; i < words.size(); ++i) {
      bool usedNext = false;
      const std::string next = i + 1 < words.size() ? words[i + 1] : std::string();
      const auto action = ParseAction(words[i], next, &usedNext);
      if (!action) {
        if (words[i] == "sleep") {
          reporter.Error("sleep needs a number of milliseconds (sleep 500), not '" + next + "'");
        } else {
          reporter.Error("unknown action '" + words[i] + "'; actions are: " + ActionChoices());
        }
        return kExitUsage;
      }
      actions.push_back(*action);
      if (usedNext) ++i;
    }
    if (const std::string refused = CheckActions(actions); !refused.empty()) {
      reporter.Error(refused);
      return kExitFailed;
    }
    CameraOptions options;
    if (const auto code =
            ToCameraOptions(cameraArgs, common.modulePath, device, reporter, &options))
      return *code;
    exitCode = RunMove(options, actions, reporter);
  } else if (interactive->parsed()) {
    CameraOptions options;
    if (const auto code =
            ToCameraOptions(cameraArgs, common.modulePath, device, reporter, &options))
      return *code;
    exitCode = RunInteractive(options, reporter);
  } else if (demoCmd->parsed()) {
    demo.modulePath = common.modulePath;
    for (const std::string& name : demoTypes) {
      const auto type = ParseType(name);
      if (!type) {
        reporter.Error("unknown camera type '" + name + "'; choose one of: " + TypeChoices());
        return kExitUsage;
      }
      demo.types.push_back(*type);
    }
    exitCode = RunDemo(demo);
  }
  return exitCode;
}

// vornectl: a host program for the VORNE module. It loads vorne.so with
// dlopen and reaches it through LumoDll only.
#include <CLI/CLI.hpp>

#include "commands.h"

int main(int argc, char** argv) {
  CLI::App app{"vornectl: steer PTZ cameras through the VORNE module"};
  app.require_subcommand(1);
  vornectl::CommonOptions common;
  app.add_option("--module", common.modulePath, "path of vorne.so (default: beside vornectl)");

  int exitCode = vornectl::kExitOk;
  CLI::App* types = app.add_subcommand("types", "list the camera types the module serves");
  types->callback([&] { exitCode = vornectl::RunTypes(common); });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : vornectl::kExitUsage;
  }
  return exitCode;
}

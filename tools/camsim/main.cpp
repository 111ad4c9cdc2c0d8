// vorne-camsim: one simulated camera on a serial line, a new pseudo-terminal
// or a real port, printing one line per frame until Ctrl-C.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "sim/camera.h"
#include "sim/protocol.h"
#include "sim/runner.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) { stopRequested = 1; }

void InstallSignals() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"vorne-camsim: a simulated PTZ camera on a serial line"};
  std::string typeName;
  std::string device;
  bool pty = false;
  int com = 1;
  int baud = 9600;
  std::string replyName = "right";
  int replyDelayMs = 300;
  int quietMs = 100;
  std::optional<int> address;

  const CLI::Validator knownType(
      [](std::string& value) -> std::string {
        if (sim::ParseProtocol(value)) return {};
        return "unknown camera type '" + value + "'; choose one of " + sim::ProtocolChoices();
      },
      "TYPE");
  const CLI::Validator knownReply(
      [](std::string& value) -> std::string {
        if (sim::ParseReplyMode(value)) return {};
        return "unknown reply mode '" + value + "'; choose one of " + sim::ReplyModeChoices();
      },
      "MODE");

  app.add_option("--type", typeName, "camera type: " + sim::ProtocolChoices())
      ->required()
      ->check(knownType);
  CLI::Option* deviceOption =
      app.add_option("--device", device, "serve a serial device (a second adapter, for example)");
  CLI::Option* ptyOption = app.add_flag("--pty", pty, "serve a new pseudo-terminal");
  deviceOption->excludes(ptyOption);
  app.add_option("--com", com, "COM port number for the printed VORNE_COMn line (1-4)")
      ->check(CLI::Range(1, 4));
  app.add_option("--baud", baud, "line speed of --device (default 9600)")
      ->check(CLI::IsMember({1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}));
  app.add_option("--reply", replyName, "TAC reply mode: " + sim::ReplyModeChoices())
      ->check(knownReply);
  app.add_option("--reply-delay-ms", replyDelayMs, "delay of the 'delayed' reply mode (300)")
      ->check(CLI::Range(0, 60000));
  app.add_option("--address", address, "act only on frames for this camera address");
  app.add_option("--quiet-ms", quietMs, "silence after which a partial frame is reported (100)")
      ->check(CLI::Range(1, 60000));

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }
  if (device.empty() == !pty) {
    std::cerr << "vorne-camsim: give one of --device PATH or --pty\n"
              << "Run with --help for more information.\n";
    return kExitUsage;
  }

  const sim::Protocol protocol = *sim::ParseProtocol(typeName);
  sim::RunnerOptions options;
  options.address = address;
  options.replyMode = *sim::ParseReplyMode(replyName);
  options.replyDelay = std::chrono::milliseconds(replyDelayMs);
  options.quietTime = std::chrono::milliseconds(quietMs);
  options.baudRate = baud;

  // Event lines wait until the header is out, so the path always comes first.
  std::mutex output;
  options.onEvent = [&output](const sim::Event& event) {
    std::lock_guard lock(output);
    std::printf("%s\n", sim::FormatEvent(event).c_str());
    std::fflush(stdout);
  };

  InstallSignals();
  std::unique_ptr<sim::Runner> runner;
  {
    std::lock_guard lock(output);
    try {
      runner = pty ? sim::Runner::OnPty(protocol, options)
                   : sim::Runner::OnDevice(protocol, device, options);
    } catch (const std::exception& e) {
      std::cerr << "vorne-camsim: " << e.what() << "\n";
      return kExitFailed;
    }
    const std::string type(sim::TypeName(protocol));
    if (pty) {
      std::printf("vorne-camsim: simulating %s (camera type %d) on %s\n", type.c_str(),
                  sim::TypeId(protocol), runner->Path().c_str());
      std::printf("%s\n", runner->EnvironmentLine(com).c_str());
    } else {
      std::printf("vorne-camsim: simulating %s (camera type %d) on %s at %d baud\n", type.c_str(),
                  sim::TypeId(protocol), runner->Path().c_str(), baud);
    }
    if (protocol == sim::Protocol::kTac) {
      std::printf("vorne-camsim: TAC replies: %s\n", replyName.c_str());
    }
    std::printf("vorne-camsim: Ctrl-C stops\n");
    std::fflush(stdout);
  }

  while (stopRequested == 0 && runner->Running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const bool lost = !runner->Running();
  runner->Stop();
  const sim::CameraState state = runner->State();
  {
    std::lock_guard lock(output);
    std::printf("vorne-camsim: stopped: %llu frames, %llu with a bad checksum, %llu stray bytes\n",
                static_cast<unsigned long long>(state.frames),
                static_cast<unsigned long long>(state.badFrames),
                static_cast<unsigned long long>(state.strayBytes));
    std::fflush(stdout);
  }
  return lost ? kExitFailed : kExitOk;
}

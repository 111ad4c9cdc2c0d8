// vorne-camsim: one simulated camera on a serial line, a new pseudo-terminal
// or a real port, printing one line per frame until Ctrl-C. Standard output
// is for scripts: the VORNE_COMn line first, then one line per event; the
// banner and the summary go to standard error.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "sim/camera.h"
#include "sim/net_listener.h"
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
  sigaction(SIGHUP, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"vorne-camsim: a simulated PTZ camera on a serial line", "vorne-camsim"};
  std::string typeName;
  std::string device;
  bool pty = false;
  int com = 1;
  int baud = 9600;
  std::string replyName = "right";
  int replyDelayMs = 300;
  int quietMs = 100;
  std::optional<int> address;
  std::string link;
  bool strict = false;
  std::string listen;

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
  app.add_option("--listen", listen,
                 "serve the camera over TCP as a device server does: tcp://HOST:PORT (raw) or "
                 "rfc2217://HOST:PORT; port 0 takes a free one (implies --pty)")
      ->excludes(deviceOption);
  app.add_option("--com", com, "COM port number for the printed VORNE_COMn line (1-4)")
      ->check(CLI::Range(1, 4));
  app.add_option("--baud", baud, "line speed of --device (default 9600)")
      ->check(CLI::IsMember({1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}));
  CLI::Option* replyOption =
      app.add_option("--reply", replyName, "TAC reply mode: " + sim::ReplyModeChoices())
          ->check(knownReply);
  app.add_option("--reply-delay-ms", replyDelayMs, "delay of the 'delayed' reply mode (300)")
      ->check(CLI::Range(0, 60000));
  app.add_option("--address", address, "act only on frames for this camera address");
  app.set_version_flag("--version", std::string("vorne-camsim ") + VORNE_VERSION);
  app.footer(
      "Output: the first line is VORNE_COMn=PATH (with --pty), then one line per event:\n"
      "  TIME rx|tx|??|-- BYTES | meaning | checksum | camera state\n"
      "TIME is UTC, as in the module's wire trace: 2026-12-10 07:15:02.123Z.\n"
      "The banner and the summary go to standard error.\n\n"
      "Exit codes: 0 ended by Ctrl-C, SIGTERM or SIGHUP; 1 the line was lost, it could not be\n"
      "opened, or --strict and a frame was bad; 2 bad arguments.");
  app.add_option("--link", link,
                 "a stable name for the pseudo-terminal: a symbolic link made at start and "
                 "removed at the end");
  app.add_flag("--strict", strict,
               "exit 1 if any frame had a bad checksum or any byte was not understood");
  app.add_option("--quiet-ms", quietMs, "silence after which a partial frame is reported (100)")
      ->check(CLI::Range(1, 60000));

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }
  std::optional<sim::ListenAddress> listenAt;
  if (!listen.empty()) {
    std::string why;
    listenAt = sim::ParseListenAddress(listen, &why);
    if (!listenAt) {
      std::cerr << "vorne-camsim: --listen " << listen << ": " << why << "\n";
      return kExitUsage;
    }
    pty = true;
  }
  if (device.empty() == !pty) {
    std::cerr << "vorne-camsim: give one of --device PATH or --pty\n"
              << "Run with --help for more information.\n";
    return kExitUsage;
  }
  const sim::Protocol protocol = *sim::ParseProtocol(typeName);
  if (replyOption->count() > 0 && protocol != sim::Protocol::kTac) {
    std::cerr << "vorne-camsim: --reply is for TAC only: " << sim::TypeName(protocol)
              << " cameras do not answer\n";
    return kExitUsage;
  }
  if (!link.empty() && !pty) {
    std::cerr << "vorne-camsim: --link names a pseudo-terminal; a --device has its own name\n";
    return kExitUsage;
  }

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
  std::unique_ptr<sim::NetListener> listener;
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
    std::string path = runner->Path();
    if (!link.empty()) {
      // Only a link of our own is replaced: never a file someone else made.
      std::error_code ec;
      if (std::filesystem::is_symlink(link, ec)) std::filesystem::remove(link, ec);
      std::filesystem::create_symlink(runner->Path(), link, ec);
      if (ec) {
        std::cerr << "vorne-camsim: cannot make the link " << link << ": " << ec.message() << "\n";
        return kExitFailed;
      }
      path = link;
    }
    if (listenAt) {
      try {
        listener = std::make_unique<sim::NetListener>(*listenAt, runner->Path());
      } catch (const std::exception& e) {
        std::cerr << "vorne-camsim: " << e.what() << "\n";
        return kExitFailed;
      }
      path = listener->Url();
    }
    if (pty) {
      std::printf("VORNE_COM%d=%s\n", com, path.c_str());
      std::fprintf(stderr, "vorne-camsim: simulating %s (camera type %d) on %s\n", type.c_str(),
                   sim::TypeId(protocol), path.c_str());
    } else {
      std::fprintf(stderr, "vorne-camsim: simulating %s (camera type %d) on %s at %d baud\n",
                   type.c_str(), sim::TypeId(protocol), runner->Path().c_str(), baud);
    }
    if (protocol == sim::Protocol::kTac) {
      std::fprintf(stderr, "vorne-camsim: TAC replies: %s\n", replyName.c_str());
    }
    std::fprintf(stderr, "vorne-camsim: Ctrl-C stops\n");
    std::fflush(stdout);
  }

  while (stopRequested == 0 && runner->Running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const bool lost = !runner->Running();
  listener.reset();
  runner->Stop();
  if (!link.empty()) {
    std::error_code ec;
    std::filesystem::remove(link, ec);
  }
  const sim::CameraState state = runner->State();
  {
    std::lock_guard lock(output);
    std::fflush(stdout);
    std::fprintf(stderr,
                 "vorne-camsim: stopped: %llu frames, %llu with a bad checksum, %llu stray bytes\n",
                 static_cast<unsigned long long>(state.frames),
                 static_cast<unsigned long long>(state.badFrames),
                 static_cast<unsigned long long>(state.strayBytes));
  }
  if (lost) return kExitFailed;
  return strict && (state.badFrames != 0 || state.strayBytes != 0) ? kExitFailed : kExitOk;
}

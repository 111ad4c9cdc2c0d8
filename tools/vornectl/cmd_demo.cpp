// vornectl demo: the whole path, host -> module -> serial line -> camera,
// with simulated cameras on pseudo-terminals (serial types) and stand-in
// vendor libraries beside a copy of the module (vendor types).
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>

#include "commands.h"
#include "report.h"
#include "session.h"
#include "sim/runner.h"

namespace vornectl {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// One host call of the script.
struct Step {
  enum Kind { kCommand, kAddress, kBaud } kind;
  std::int32_t value;
  const char* what;
};

constexpr Step kScript[] = {
    {Step::kBaud, 9600, "SetBaudRate(9600)"},
    {Step::kAddress, 2, "SetAddressCode(2)"},
    {Step::kCommand, PTZ_PAN_LEFT, "Command(1) pan left"},
    {Step::kCommand, PTZ_TILT_UP, "Command(3) tilt up (while panning)"},
    {Step::kCommand, PTZ_ZOOM_IN, "Command(5) zoom in"},
    {Step::kCommand, PTZ_STOP, "Command(0) stop"},
    {Step::kCommand, PTZ_TILT_DOWN, "Command(4) tilt down"},
    {Step::kCommand, PTZ_ZOOM_OUT, "Command(6) zoom out"},
    {Step::kCommand, PTZ_STOP, "Command(0) stop"},
    {Step::kCommand, PTZ_PAN_RIGHT, "Command(2) pan right"},
};

// Collects what happened between two host calls.
class Collector {
 public:
  void AddLine(const std::string& line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
  }
  std::vector<std::string> TakeLines() {
    std::lock_guard lock(mutex_);
    return std::exchange(lines_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

std::string Trimmed(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

struct Verdict {
  int frames = 0;
  int problems = 0;
  bool stopped = true;
};

class SerialDemo {
 public:
  SerialDemo(sim::Protocol protocol, const DemoOptions& options)
      : protocol_(protocol), options_(options) {}

  Verdict Run() {
    const std::string name(sim::TypeName(protocol_));
    std::unique_ptr<sim::Runner> runner;
    try {
      runner = sim::Runner::OnPty(protocol_);
    } catch (const std::exception& e) {
      std::cout << name << ": cannot start the simulated camera: " << e.what() << "\n";
      return {0, 1, false};
    }
    // The module reads this when it opens COM1 for each frame.
    setenv("VORNE_COM1", runner->Path().c_str(), 1);
    std::cout << "== " << name << " (type " << sim::TypeId(protocol_)
              << "), COM1 = " << runner->Path() << "\n";

    Collector collector;
    Reporter quiet(Reporter::Mode::kSilent);
    Session session(quiet, [&](const std::string& line) { collector.AddLine(line); });
    CameraOptions camera;
    camera.modulePath = options_.modulePath;
    camera.type = sim::TypeId(protocol_);
    camera.port = 1;
    Verdict verdict;
    std::cout << "> CreateController, SetComPort(0)\n";
    if (session.Open(camera) != 0) return {0, 1, false};
    Show(collector, *runner, verdict);
    for (const Step& step : kScript) {
      std::cout << "> " << step.what << "\n";
      HRESULT hr = S_OK;
      switch (step.kind) {
        case Step::kBaud: hr = session.Camera()->SetBaudRate(step.value); break;
        case Step::kAddress: hr = session.Camera()->SetAddressCode(step.value); break;
        case Step::kCommand: hr = session.Camera()->Command(step.value); break;
      }
      if (hr != S_OK) std::cout << "  result: " << hostkit::ResultName(hr) << "\n";
      std::this_thread::sleep_for(options_.compact ? 60ms : 250ms);
      Show(collector, *runner, verdict);
    }
    std::cout << "> DestroyController (stops the camera)\n";
    session.Close();
    Show(collector, *runner, verdict);
    const sim::CameraState state = runner->State();
    verdict.stopped = !state.Moving();
    std::cout << "  camera: " << state.Describe()
              << (verdict.stopped ? ", stopped" : ", STILL MOVING") << "\n";
    runner->Stop();
    unsetenv("VORNE_COM1");
    return verdict;
  }

 private:
  // Prints the module's log lines and what the camera saw since last time.
  void Show(Collector& collector, sim::Runner& runner, Verdict& verdict) {
    // Frames already written are on the line; give the camera's thread a
    // moment to read them.
    runner.WaitFor([&](const std::vector<sim::Event>& events) { return events.size() >= seen_; },
                   200ms);
    std::this_thread::sleep_for(20ms);
    for (const std::string& line : collector.TakeLines()) {
      std::cout << "  log:  " << Trimmed(line) << "\n";
    }
    const std::vector<sim::Event> events = runner.Events();
    if (events.size() == seen_) std::cout << "  (nothing on the wire)\n";
    for (std::size_t i = seen_; i < events.size(); ++i) {
      const sim::Event& e = events[i];
      switch (e.kind) {
        case sim::Event::Kind::kFrame: {
          ++verdict.frames;
          const bool bad = e.check.verdict == sim::Check::Verdict::kBad;
          if (bad) ++verdict.problems;
          std::cout << "  wire: " << sim::Hex(e.bytes) << "  | " << e.meaning << " | checksum "
                    << e.check.Describe() << "\n";
          if (!options_.compact) std::cout << "        camera: " << e.state.Describe() << "\n";
          break;
        }
        case sim::Event::Kind::kGarbage:
          ++verdict.problems;
          std::cout << "  wire: " << sim::Hex(e.bytes) << "  | NOT UNDERSTOOD: " << e.meaning
                    << "\n";
          break;
        case sim::Event::Kind::kReply:
          std::cout << "  back: " << sim::Hex(e.bytes) << "  | camera's reply\n";
          break;
        case sim::Event::Kind::kNotice:
          if (!options_.compact) std::cout << "  line: " << e.meaning << "\n";
          break;
      }
    }
    seen_ = events.size();
  }

  sim::Protocol protocol_;
  const DemoOptions& options_;
  std::size_t seen_ = 0;
};

// The vendor types run against the stand-in libraries, copied with the
// module into a folder of their own, since the module looks for them beside
// itself.
class VendorDemo {
 public:
  VendorDemo(std::int32_t type, const DemoOptions& options) : type_(type), options_(options) {}

  Verdict Run() {
    const std::string name = TypeNames()[static_cast<std::size_t>(type_)];
    const fs::path module = options_.modulePath.empty() ? fs::path(hostkit::ModuleBesideProgram())
                                                        : fs::path(options_.modulePath);
    const fs::path library =
        module.parent_path() / "standins" / (type_ == PTZ_TYPE_RC20 ? "CDLL_301P.dll" : "CDll.dll");
    std::error_code ec;
    char folderTemplate[] = "/tmp/vorne-demo-XXXXXX";
    const char* folder = mkdtemp(folderTemplate);
    if (folder == nullptr || !fs::copy_file(module, fs::path(folder) / "vorne.so", ec) ||
        !fs::copy_file(library, fs::path(folder) / library.filename(), ec)) {
      std::cout << name << ": cannot prepare the stand-in library " << library << ": "
                << ec.message() << "\n";
      return {0, 1, false};
    }
    const fs::path calls = fs::path(folder) / "calls.log";
    setenv("VORNE_STANDIN_LOG", calls.c_str(), 1);
    std::cout << "== " << name << " (type " << type_ << "), stand-in " << library.filename()
              << " beside a copy of the module\n";

    Verdict verdict;
    {
      Collector collector;
      Reporter quiet(Reporter::Mode::kSilent);
      Session session(quiet, [&](const std::string& line) { collector.AddLine(line); });
      CameraOptions camera;
      camera.modulePath = (fs::path(folder) / "vorne.so").string();
      camera.type = type_;
      camera.camera = 3;
      std::cout << "> CreateController(camera 3), SetComPort(0)\n";
      if (session.Open(camera) != 0) return {0, 1, false};
      Show(collector, calls, verdict);
      for (const Step& step : kScript) {
        if (step.kind != Step::kCommand) continue;
        std::cout << "> " << step.what << "\n";
        session.Camera()->Command(step.value);
        Show(collector, calls, verdict);
      }
      std::cout << "> DestroyController\n";
      session.Close();
      Show(collector, calls, verdict);
    }
    unsetenv("VORNE_STANDIN_LOG");
    fs::remove_all(folder, ec);
    if (verdict.frames == 0) ++verdict.problems;  // the library was never reached
    return verdict;
  }

 private:
  void Show(Collector& collector, const fs::path& calls, Verdict& verdict) {
    for (const std::string& line : collector.TakeLines())
      std::cout << "  log:  " << Trimmed(line) << "\n";
    std::ifstream in(calls);
    std::string line;
    std::size_t index = 0;
    while (std::getline(in, line)) {
      if (index++ < seenCalls_) continue;
      std::cout << "  call: " << line << "\n";
      ++verdict.frames;
    }
    if (index == seenCalls_) std::cout << "  (no library call)\n";
    seenCalls_ = index;
  }

  std::int32_t type_;
  const DemoOptions& options_;
  std::size_t seenCalls_ = 0;
};

}  // namespace

int RunDemo(const DemoOptions& options) {
  std::vector<std::int32_t> types = options.types;
  if (types.empty()) {
    for (std::int32_t t = 0; t < static_cast<std::int32_t>(TypeNames().size()); ++t)
      types.push_back(t);
  }
  bool ok = true;
  std::vector<std::string> summary;
  for (std::int32_t type : types) {
    Verdict verdict;
    if (type == PTZ_TYPE_RC20 || type == PTZ_TYPE_SU_320) {
      verdict = VendorDemo(type, options).Run();
    } else {
      const auto protocol = sim::ParseProtocol(TypeNames()[static_cast<std::size_t>(type)]);
      verdict = SerialDemo(*protocol, options).Run();
    }
    const bool passed = verdict.problems == 0 && verdict.stopped;
    ok = ok && passed;
    summary.push_back(
        TypeNames()[static_cast<std::size_t>(type)] + ": " + std::to_string(verdict.frames) +
        (type == PTZ_TYPE_RC20 || type == PTZ_TYPE_SU_320 ? " library calls"
                                                          : " frames understood") +
        (verdict.problems != 0 ? ", " + std::to_string(verdict.problems) + " PROBLEMS" : "") +
        (verdict.stopped ? "" : ", camera still moving") + (passed ? "  ok" : "  FAILED"));
    std::cout << "\n";
  }
  std::cout << "Summary\n";
  for (const std::string& line : summary) std::cout << "  " << line << "\n";
  return ok ? kExitOk : kExitFailed;
}

}  // namespace vornectl

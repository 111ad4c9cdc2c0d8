#include "session.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace vornectl {

namespace {

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

struct ActionWord {
  const char* word;
  std::int32_t command;
};
constexpr ActionWord kActions[] = {
    {"stop", PTZ_STOP},         {"left", PTZ_PAN_LEFT},  {"right", PTZ_PAN_RIGHT},
    {"up", PTZ_TILT_UP},        {"down", PTZ_TILT_DOWN}, {"zoom-in", PTZ_ZOOM_IN},
    {"zoom-out", PTZ_ZOOM_OUT},
};

}  // namespace

const std::vector<std::string>& TypeNames() {
  static const std::vector<std::string> names = {"EVI_D31",       "RC20",    "SU_320",  "TAC",
                                                 "VIDEOTREC_PWT", "PELCO_D", "VC_C50i", "PELCO_P"};
  return names;
}

std::optional<std::int32_t> ParseType(const std::string& text) {
  const auto& names = TypeNames();
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (Upper(names[i]) == Upper(text)) return static_cast<std::int32_t>(i);
  }
  int id = -1;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (ec == std::errc() && end == text.data() + text.size() && id >= 0 &&
      id < static_cast<int>(names.size())) {
    return id;
  }
  return std::nullopt;
}

std::string TypeChoices() {
  std::string out;
  for (std::size_t i = 0; i < TypeNames().size(); ++i) {
    if (i > 0) out += ", ";
    out += TypeNames()[i] + " (" + std::to_string(i) + ")";
  }
  return out;
}

std::optional<Action> ParseAction(const std::string& word, const std::string& next,
                                  bool* usedNext) {
  *usedNext = false;
  for (const ActionWord& a : kActions) {
    if (word == a.word) return Action{Action::kCommand, a.command, word};
  }
  if (word == "sleep") {
    int ms = -1;
    const auto [end, ec] = std::from_chars(next.data(), next.data() + next.size(), ms);
    if (ec != std::errc() || end != next.data() + next.size() || ms < 0) return std::nullopt;
    *usedNext = true;
    return Action{Action::kSleep, ms, word};
  }
  return std::nullopt;
}

std::string ActionChoices() {
  std::string out;
  for (const ActionWord& a : kActions) out += std::string(a.word) + ", ";
  return out + "sleep MS";
}

Session::Session(std::ostream& err, hostkit::LineHandler onLine)
    : err_(err), host_([this, onLine = std::move(onLine)](const std::string& line) {
        // Commands answer S_OK whatever the port did; the module's log is
        // where a frame that never left shows up.
        if (line.find("failed") != std::string::npos || line.find("Failed") != std::string::npos ||
            line.find("xception") != std::string::npos) {
          moduleFailures_ = true;
        }
        if (onLine) {
          onLine(line);
        } else {
          err_ << "module: " << line << std::flush;
        }
      }) {}

Session::~Session() { Close(); }

bool Session::Check(HRESULT hr, const std::string& call) {
  if (hr == S_OK) return true;
  err_ << call << ": " << hostkit::ResultName(hr) << "\n";
  failed_ = true;
  return false;
}

int Session::Open(const CameraOptions& options) {
  const std::string path =
      options.modulePath.empty() ? hostkit::ModuleBesideProgram() : options.modulePath;
  if (!module_.Loaded() && !module_.Load(path)) {
    err_ << "vornectl: " << module_.Error() << "\n";
    return 2;
  }
  const HRESULT created = module_.CreateCamera(&host_, &camera_);
  if (!Check(created, "CreateInstance") || camera_ == nullptr) return 1;

  // Serial cameras host their port control under a parent window; this
  // program has none, and the module only needs a non-null handle.
  HWND parent = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(1));
  if (!Check(camera_->CreateController(options.type, parent, options.camera),
             "CreateController(" + TypeNames()[static_cast<std::size_t>(options.type)] + ")")) {
    return 1;
  }
  Check(camera_->SetComPort(options.port - 1),
        "SetComPort(" + std::to_string(options.port - 1) + ")");
  if (options.baud)
    Check(camera_->SetBaudRate(*options.baud),
          "SetBaudRate(" + std::to_string(*options.baud) + ")");
  if (options.address) {
    Check(camera_->SetAddressCode(*options.address),
          "SetAddressCode(" + std::to_string(*options.address) + ")");
  }
  return 0;
}

bool Session::Command(std::int32_t n, const std::string& what) {
  if (camera_ == nullptr) return false;
  return Check(camera_->Command(n), "Command(" + std::to_string(n) + ") " + what);
}

void Session::Close() {
  if (camera_ != nullptr) {
    camera_->DestroyController();
    camera_->Release();
    camera_ = nullptr;
  }
}

}  // namespace vornectl

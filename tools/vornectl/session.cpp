#include "session.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iostream>
#include <utility>

#include "line_check.h"
#include "report.h"

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

Session::Session(Reporter& reporter, hostkit::LineHandler onLine)
    : reporter_(reporter),
      wire_(std::make_unique<WireWatch>()),
      host_([this](const std::string& line) {
        std::lock_guard lock(mutex_);
        pendingLog_.push_back(line);
        if (onLine_) {
          onLine_(line);
        } else if (!reporter_.Json()) {
          std::cerr << "module: " << line << std::flush;
        }
      }),
      onLine_(std::move(onLine)) {}

Session::~Session() { Close(); }

bool Session::Report(const std::string& action, const std::string& call, HRESULT hr) {
  CallRecord record;
  record.action = action;
  record.call = call;
  record.result = hr;
  {
    std::lock_guard lock(mutex_);
    record.log = std::exchange(pendingLog_, {});
  }
  record.wire = wire_->TakeLines();
  for (const std::string& line : record.log) {
    if (IsFailureLine(line)) {
      std::string text = line;
      while (!text.empty() && text.back() == '\n') text.pop_back();
      record.problems.push_back("the module logged \"" + text + "\"");
    }
  }
  const WireVerdict verdict = JudgeTrace(record.wire, type_ == PTZ_TYPE_TAC);
  for (const std::string& problem : verdict.problems) record.problems.push_back(problem);
  for (const std::string& failure : verdict.openFailures) {
    openFailed_ = true;
    // Every frame tries the port again; explain each reason once.
    const std::string text = ExplainOpenFailure(failure);
    if (std::find(explained_.begin(), explained_.end(), text) == explained_.end()) {
      explained_.push_back(text);
      reporter_.Error(text);
    }
  }
  for (std::string& line : record.wire) line = TraceText(line);
  if (record.result != S_OK)
    record.problems.insert(record.problems.begin(), call + " answered " + hostkit::ResultName(hr));
  reporter_.Call(record);
  failed_ = failed_ || record.Failed();
  return !record.Failed();
}

int Session::Open(const CameraOptions& options) {
  const std::string path =
      options.modulePath.empty() ? hostkit::ModuleBesideProgram() : options.modulePath;
  if (!module_.Loaded() && !module_.Load(path)) {
    reporter_.Error(module_.Error());
    return 2;
  }
  type_ = options.type;
  const HRESULT created = module_.CreateCamera(&host_, &camera_);
  if (!Report("create", "CreateInstance(WCameraControler)", created) || camera_ == nullptr) {
    camera_ = nullptr;
    return 1;
  }

  // Serial cameras host their port control under a parent window; this
  // program has none, and the module only needs a non-null handle.
  HWND parent = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(1));
  const std::string name = TypeNames()[static_cast<std::size_t>(options.type)];
  const HRESULT controller = camera_->CreateController(options.type, parent, options.camera);
  controller_ = controller == S_OK;
  if (!Report("controller",
              "CreateController(" + name + ", camera " + std::to_string(options.camera) + ")",
              controller)) {
    return 1;
  }
  if (options.port > 0) {
    Report("port", "SetComPort(" + std::to_string(options.port - 1) + ")",
           camera_->SetComPort(options.port - 1));
  }
  if (options.baud) {
    Report("baud", "SetBaudRate(" + std::to_string(*options.baud) + ")",
           camera_->SetBaudRate(*options.baud));
  }
  if (options.address) {
    Report("address", "SetAddressCode(" + std::to_string(*options.address) + ")",
           camera_->SetAddressCode(*options.address));
  }
  return 0;
}

bool Session::Command(std::int32_t n, const std::string& what) {
  if (camera_ == nullptr) return false;
  const HRESULT hr = camera_->Command(n);
  return Report(what, "Command(" + std::to_string(n) + ")", hr);
}

void Session::Close() {
  if (camera_ != nullptr) {
    if (controller_) {
      Command(PTZ_STOP, "end");
      Report("destroy", "DestroyController()", camera_->DestroyController());
      controller_ = false;
    }
    camera_->Release();
    camera_ = nullptr;
  }
  module_.Unload();
}

}  // namespace vornectl

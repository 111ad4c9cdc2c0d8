#include "report.h"

#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>

#include "hostkit/module_loader.h"
#include "stop_request.h"

namespace vornectl {

namespace {

constexpr const char* kRed = "\x1b[31m";
constexpr const char* kGreen = "\x1b[32m";
constexpr const char* kYellow = "\x1b[33m";

bool ColourWanted(int fd) {
  const char* noColour = std::getenv("NO_COLOR");
  if (noColour != nullptr && *noColour != '\0') return false;
  return ::isatty(fd) != 0;
}

std::string Trimmed(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

}  // namespace

bool IsFailureLine(const std::string& line) {
  // Commands answer S_OK whatever the port did; the module's log is where a
  // frame that never left shows up.
  return line.find("failed") != std::string::npos || line.find("Failed") != std::string::npos ||
         line.find("xception") != std::string::npos;
}

Reporter::Reporter(Mode mode)
    : mode_(mode),
      colourOut_(ColourWanted(STDOUT_FILENO)),
      colourErr_(ColourWanted(STDERR_FILENO)) {}

std::string Reporter::Paint(const std::string& text, const char* colour, bool toError) const {
  if (!(toError ? colourErr_ : colourOut_)) return text;
  return std::string(colour) + text + "\x1b[0m";
}

void Reporter::Call(const CallRecord& record) {
  if (mode_ == Mode::kSilent) return;
  const std::string result = hostkit::ResultName(record.result);
  if (mode_ == Mode::kJson) {
    nlohmann::json object;
    object["action"] = record.action;
    object["call"] = record.call;
    object["result"] = result;
    object["ok"] = !record.Failed();
    nlohmann::json log = nlohmann::json::array();
    for (const std::string& line : record.log) log.push_back(Trimmed(line));
    object["log"] = log;
    object["wire"] = record.wire;
    object["problems"] = record.problems;
    std::cout << object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  } else {
    std::cout << record.action << ": " << record.call << " = "
              << Paint(result + (record.Failed() && record.result == S_OK ? ", but failed" : ""),
                       record.Failed() ? kRed : kGreen, false)
              << "\n";
    // The module's own lines are on standard error already and open failures
    // are explained once; the rest is said here.
    for (const std::string& problem : record.problems) {
      if (problem.rfind("the module logged", 0) == 0 ||
          problem.find(" open failed ") != std::string::npos)
        continue;
      std::cerr << Paint("vornectl: " + record.action + ": " + problem, kRed, true) << "\n";
    }
  }
  CheckOutput();
}

void Reporter::Say(const std::string& text) const { std::cerr << "vornectl: " << text << "\n"; }

void Reporter::Warn(const std::string& text) const {
  std::cerr << Paint("vornectl: warning: " + text, kYellow, true) << "\n";
}

void Reporter::Error(const std::string& text) const {
  std::cerr << Paint("vornectl: " + text, kRed, true) << "\n";
}

}  // namespace vornectl

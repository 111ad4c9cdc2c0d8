// What vornectl says about each host call: a line of text on standard
// output (with colour on a terminal unless NO_COLOR is set), or one JSON
// object per call for scripts.
#ifndef VORNE_VORNECTL_REPORT_H
#define VORNE_VORNECTL_REPORT_H

#include <string>
#include <vector>

#include "vorne/ptz_plugin.h"

namespace vornectl {

struct CallRecord {
  std::string action;  // "left", "create", "baud", ...
  std::string call;    // "Command(1)"
  HRESULT result = S_OK;
  std::vector<std::string> log;       // the module's log lines during the call
  std::vector<std::string> wire;      // trace lines during the call
  std::vector<std::string> problems;  // what failed, in words
  bool Failed() const { return result != S_OK || !problems.empty(); }
};

class Reporter {
 public:
  enum class Mode { kText, kJson, kSilent };
  explicit Reporter(Mode mode);

  bool Json() const { return mode_ == Mode::kJson; }
  // One call: stdout line or JSON object; problems also go to standard error
  // in text mode.
  void Call(const CallRecord& record);
  // A line for the user on standard error ("vornectl: ...").
  void Say(const std::string& text) const;
  void Warn(const std::string& text) const;
  void Error(const std::string& text) const;

 private:
  std::string Paint(const std::string& text, const char* colour, bool toError) const;

  Mode mode_;
  bool colourOut_;
  bool colourErr_;
};

// Whether the module logged a failure in `line`.
bool IsFailureLine(const std::string& line);

}  // namespace vornectl

#endif

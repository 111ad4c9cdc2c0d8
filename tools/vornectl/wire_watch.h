// vornectl's view of the module's wire trace. The module appends a line per
// port event to the file VORNE_TRACE names; vornectl sets one up for every
// run (its own temporary file unless the user named one) and reads what
// each host call added, to show the bytes and to judge the exchanges, since
// the module's commands answer S_OK whatever the line did.
#ifndef VORNE_VORNECTL_WIRE_WATCH_H
#define VORNE_VORNECTL_WIRE_WATCH_H

#include <cstdint>
#include <string>
#include <vector>

namespace vornectl {

// What a batch of trace lines says went wrong, in words, one per fault.
struct WireVerdict {
  std::vector<std::string> problems;
  // "open failed" reasons, kept apart so that they can be explained.
  std::vector<std::string> openFailures;  // "DEVICE: reason"
};

// Judges trace lines ("<date> <time> COM<n> <text>"). The module's own
// failure and verdict lines count; for TAC (`tacExchanges`) an exchange the
// module wrote no verdict for is judged here from its bytes, the way the
// module judges it: 11 bytes whose last two are the uppercase hex digits of
// the sum of the first nine, or more than 11 bytes.
WireVerdict JudgeTrace(const std::vector<std::string>& lines, bool tacExchanges);

// The text of a trace line after its time stamp: "COM1 out 7: FF ...".
std::string TraceText(const std::string& line);

class WireWatch {
 public:
  // Points VORNE_TRACE at the file to read. With VORNE_TRACE=- the lines
  // read are copied to standard error, as the module would have written them.
  WireWatch();
  ~WireWatch();
  WireWatch(const WireWatch&) = delete;
  WireWatch& operator=(const WireWatch&) = delete;

  // The lines appended since the last call.
  std::vector<std::string> TakeLines();
  // True when the user asked to see the trace.
  bool Shown() const { return echo_ || !ownFile_; }

 private:
  std::string path_;
  bool ownFile_ = false;
  bool echo_ = false;
  std::uint64_t offset_ = 0;
  std::string partial_;
};

}  // namespace vornectl

#endif

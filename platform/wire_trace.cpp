#include "platform/wire_trace.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/safe_text.h"
#include "platform/trace_file.h"

namespace vorne {

namespace {

// The one trace of the process. Lines are built in a buffer that keeps its
// size, so a traced frame allocates nothing once the first lines are out.
struct TraceState {
  std::mutex mutex;
  std::string name;  // what VORNE_TRACE said when the file was opened
  TraceFile file;
  bool on = false;
  std::uint64_t dropped = 0;
  std::string line;
  std::string bytes;
  std::int64_t stampedSecond = -1;
  char secondText[48] = {};  // "2026-12-10 07:15:02"

  ~TraceState() { CloseTraceFile(&file); }
};

TraceState& State() {
  static TraceState state;
  return state;
}

// The name and the system's reason are made safe: the host's standard
// error is often a terminal or a log read line by line.
void Warn(const std::string& name, std::string_view why) {
  std::string text = "vorne: wire trace ";
  AppendSafeText(text, name);
  text += " is off: ";
  AppendSafeText(text, why);
  text += '\n';
  WriteStandardError(text);
}

// Appends "2026-12-10 07:15:02.123Z"; the date and time of day are worked
// out once per second.
void AppendStamp(TraceState& state) {
  using namespace std::chrono;
  const auto now = time_point_cast<milliseconds>(system_clock::now());
  const auto second = floor<seconds>(now);
  if (second.time_since_epoch().count() != state.stampedSecond) {
    state.stampedSecond = second.time_since_epoch().count();
    const auto day = floor<days>(second);
    const year_month_day date{day};
    const hh_mm_ss time{second - day};
    std::snprintf(state.secondText, sizeof(state.secondText), "%04d-%02u-%02u %02d:%02d:%02d",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
  }
  const int millisecond = static_cast<int>((now - second).count());
  state.line += state.secondText;
  const char fraction[] = {'.', static_cast<char>('0' + millisecond / 100),
                           static_cast<char>('0' + millisecond / 10 % 10),
                           static_cast<char>('0' + millisecond % 10), 'Z'};
  state.line.append(fraction, sizeof(fraction));
}

// "2026-12-10 07:15:02.123Z COM2 ", the start of every line.
void StartLine(TraceState& state, int port) {
  state.line.clear();
  AppendStamp(state);
  state.line += " COM";
  AppendNumber(state.line, static_cast<std::size_t>(port < 0 ? 0 : port));
  state.line += ' ';
}

// One write per line, so lines of several writers to one file stay whole
// and nothing is lost if the host dies. Called with the state locked.
void FinishLine(TraceState& state) {
  state.line += '\n';
  switch (WriteTraceFile(state.file, state.line.data(), state.line.size())) {
    case TraceWriteResult::kWritten: break;
    case TraceWriteResult::kDropped: ++state.dropped; break;
    case TraceWriteResult::kGone:
      CloseTraceFile(&state.file);
      state.on = false;
      Warn(state.name, "its reader went away");
      break;
  }
}

// `word` and `between` are the trace's own words; `text` and `more` come
// from outside (device names, settings texts, the system's reasons, what a
// driver saw) and are made safe, so that nothing in them can forge a line,
// reach the terminal of whoever reads the trace or swamp the file.
void WriteLine(TraceState& state, int port, std::string_view word, std::string_view text,
               std::string_view between = {}, std::string_view more = {}) {
  if (!state.on) return;
  StartLine(state, port);
  state.line += word;
  AppendSafeText(state.line, text);
  state.line += between;
  AppendSafeText(state.line, more);
  FinishLine(state);
}

}  // namespace

WireTrace* WireTrace::Current() {
  static WireTrace trace;
  TraceState& state = State();
  const char* target = std::getenv("VORNE_TRACE");
  std::lock_guard lock(state.mutex);
  if (target == nullptr || *target == '\0') {
    if (!state.name.empty()) {
      CloseTraceFile(&state.file);
      state.name.clear();
      state.on = false;
    }
    return nullptr;
  }
  if (state.name != target) {
    CloseTraceFile(&state.file);
    state.name = target;
    std::string reason;
    state.on = OpenTraceFile(target, &state.file, &reason);
    if (!state.on) Warn(state.name, "cannot open it: " + reason);
  }
  return state.on ? &trace : nullptr;
}

std::uint64_t WireTrace::Dropped() const {
  TraceState& state = State();
  std::lock_guard lock(state.mutex);
  return state.dropped;
}

void WireTrace::Line(int port, std::string_view word, std::string_view text,
                     std::string_view between, std::string_view more) {
  TraceState& state = State();
  std::lock_guard lock(state.mutex);
  WriteLine(state, port, word, text, between, more);
}

void WireTrace::Opened(int port, std::string_view device, std::string_view settings) {
  Line(port, "open ", device, " ", settings);
}

void WireTrace::OpenFailed(int port, std::string_view device, std::string_view reason) {
  Line(port, "open failed ", device, ": ", reason);
}

void WireTrace::Settings(int port, std::string_view settings) { Line(port, "settings ", settings); }

void WireTrace::Out(int port, const std::uint8_t* bytes, std::size_t count) {
  Bytes(port, "out ", bytes, count);
}

void WireTrace::In(int port, const std::uint8_t* bytes, std::size_t count) {
  Bytes(port, "in ", bytes, count);
}

void WireTrace::Failed(int port, std::string_view what, std::string_view reason) {
  Line(port, {}, what, " failed: ", reason);
}

void WireTrace::Closed(int port) { Line(port, "close"); }

void WireTrace::Note(int port, std::string_view text) { Line(port, {}, text); }

void WireTrace::Bytes(int port, std::string_view direction, const std::uint8_t* bytes,
                      std::size_t count) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  TraceState& state = State();
  std::lock_guard lock(state.mutex);
  state.bytes.clear();
  AppendNumber(state.bytes, count);
  state.bytes += ':';
  for (std::size_t i = 0; i < count; ++i) {
    const char hex[] = {' ', kHex[bytes[i] >> 4], kHex[bytes[i] & 0x0F]};
    state.bytes.append(hex, sizeof(hex));
  }
  if (!state.on) return;
  StartLine(state, port);  // the hex text is the trace's own: never cut
  state.line += direction;
  state.line += state.bytes;
  FinishLine(state);
}

void TraceNote(int port, std::string_view text) {
  if (WireTrace* trace = WireTrace::Current()) trace->Note(port, text);
}

}  // namespace vorne

// The wire trace of the communications control: when the environment
// variable VORNE_TRACE names a file (or "-" for standard error), each port
// open with its device and line settings, every byte out and in, each close
// and the drivers' verdicts on answers are appended there, one line per
// event stamped in UTC to the millisecond ("2026-12-10 07:15:02.123Z").
// A failed open records the operating system's reason. Every text that
// comes from outside (device, settings, reason, note) is written escaped and
// cut short when long (platform/safe_text.h), so a line stays one line.
//
// The trace lives in the host's process, so nothing about it may hold or
// end the host: the file is opened once per name, never blocking, never
// through a final symbolic link and not inherited by child programs; a line
// that cannot be written at once is dropped and counted; a reader that goes
// away turns the trace off; SIGPIPE never reaches the host. A trace that
// cannot be opened or goes off says so once on standard error.
#ifndef VORNE_PLATFORM_WIRE_TRACE_H
#define VORNE_PLATFORM_WIRE_TRACE_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vorne {

class WireTrace {
 public:
  // The trace VORNE_TRACE names now, or null when tracing is off or its
  // file could not be opened. Looked up at each port open; the file is
  // opened again only when the name changes.
  static WireTrace* Current();

  void Opened(int port, std::string_view device, std::string_view settings);
  void OpenFailed(int port, std::string_view device, std::string_view reason);
  void Settings(int port, std::string_view settings);
  void Out(int port, const std::uint8_t* bytes, std::size_t count);
  void In(int port, const std::uint8_t* bytes, std::size_t count);
  void Failed(int port, std::string_view what, std::string_view reason);
  void Closed(int port);
  // A driver's verdict on an exchange, e.g. "no reply in 200 ms".
  void Note(int port, std::string_view text);

  // Lines dropped because the file could not take them at once.
  std::uint64_t Dropped() const;

 private:
  WireTrace() = default;
  // `word` and `between` are the trace's words; `text` and `more` come
  // from outside and are written made safe (platform/safe_text.h).
  void Line(int port, std::string_view word, std::string_view text = {},
            std::string_view between = {}, std::string_view more = {});
  void Bytes(int port, std::string_view direction, const std::uint8_t* bytes, std::size_t count);
};

// Writes a driver's verdict to the trace when one is on.
void TraceNote(int port, std::string_view text);

}  // namespace vorne

#endif

// The file behind the wire trace, as the operating system provides it.
#ifndef VORNE_PLATFORM_TRACE_FILE_H
#define VORNE_PLATFORM_TRACE_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vorne {

struct TraceFile {
  std::intptr_t handle = -1;
  bool owned = false;  // false for standard error
  bool pipe = false;   // a reader can go away
};

enum class TraceWriteResult {
  kWritten,
  kDropped,  // the file could not take the line at once
  kGone,     // the reader went away, or the file failed for good
};

// Opens `name` for appending ("-" is standard error) without blocking,
// without following a final symbolic link and without handing it to child
// programs. False with the system's reason when it cannot be opened or is
// a fifo nobody reads.
bool OpenTraceFile(const char* name, TraceFile* file, std::string* reason);

// Writes one whole line at once, or nothing; never raises SIGPIPE.
TraceWriteResult WriteTraceFile(const TraceFile& file, const char* data, std::size_t size);

void CloseTraceFile(TraceFile* file);

// A notice for the person running the host, on standard error, written
// like a trace line.
void WriteStandardError(std::string_view text);

}  // namespace vorne

#endif

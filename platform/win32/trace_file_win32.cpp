// The trace file on Windows: a handle opened for appending that no child
// program inherits, and writes that never wait on a pipe nobody reads.
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/trace_file.h"
#include "platform/win32/system_text.h"

namespace vorne {

namespace {

HANDLE Handle(const TraceFile& file) { return reinterpret_cast<HANDLE>(file.handle); }

bool IsPipe(HANDLE handle) { return ::GetFileType(handle) == FILE_TYPE_PIPE; }

// A pipe's writes return at once when the reader has no room, instead of
// holding the caller.
void DoNotWait(HANDLE handle) {
  DWORD mode = PIPE_READMODE_BYTE | PIPE_NOWAIT;
  ::SetNamedPipeHandleState(handle, &mode, nullptr, nullptr);
}

}  // namespace

bool OpenTraceFile(const char* name, TraceFile* file, std::string* reason) {
  *file = TraceFile{};
  if (std::strcmp(name, "-") == 0) {
    const HANDLE standardError = ::GetStdHandle(STD_ERROR_HANDLE);
    if (standardError == nullptr || standardError == INVALID_HANDLE_VALUE) {
      *reason = "no standard error";
      return false;
    }
    file->handle = reinterpret_cast<std::intptr_t>(standardError);
    file->pipe = IsPipe(standardError);
    return true;
  }
  // Appending, shared with other writers and readers, not inherited.
  const HANDLE handle =
      ::CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    *reason = error == ERROR_PIPE_BUSY ? "a pipe nobody reads" : SystemText(error);
    return false;
  }
  file->handle = reinterpret_cast<std::intptr_t>(handle);
  file->owned = true;
  file->pipe = IsPipe(handle);
  if (file->pipe) DoNotWait(handle);
  return true;
}

TraceWriteResult WriteTraceFile(const TraceFile& file, const char* data, std::size_t size) {
  if (file.handle == -1 || file.handle == 0) return TraceWriteResult::kGone;
  DWORD written = 0;
  if (!::WriteFile(Handle(file), data, static_cast<DWORD>(size), &written, nullptr)) {
    // The reader closed its end: the pipe is gone for good.
    const DWORD error = ::GetLastError();
    return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE ? TraceWriteResult::kGone
                                                                : TraceWriteResult::kDropped;
  }
  // A pipe without room takes nothing and says so with a zero count.
  return written == size ? TraceWriteResult::kWritten : TraceWriteResult::kDropped;
}

void CloseTraceFile(TraceFile* file) {
  if (file->owned && file->handle != -1) ::CloseHandle(Handle(*file));
  *file = TraceFile{};
}

void WriteStandardError(std::string_view text) {
  TraceFile standardError;
  const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  standardError.handle = reinterpret_cast<std::intptr_t>(handle);
  standardError.pipe = IsPipe(handle);
  WriteTraceFile(standardError, text.data(), text.size());
}

}  // namespace vorne

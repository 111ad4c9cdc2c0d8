// Call records of the stand-in vendor libraries.
//
// Each call appends one line "<library>: <call>" to the file named by the
// environment variable VORNE_STANDIN_LOG ("-" writes to standard error;
// unset records nothing). The variable is read at every call, so a host can
// point it elsewhere between calls.
#ifndef VORNE_SIM_STANDINS_STANDIN_RECORD_H
#define VORNE_SIM_STANDINS_STANDIN_RECORD_H

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// On Windows a .def file names the exports (the decorated ones included).
#ifdef _WIN32
#define STANDIN_EXPORT extern "C"
#else
#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

__attribute__((format(printf, 2, 3))) void Record(const char* library, const char* format, ...) {
  const char* target = std::getenv("VORNE_STANDIN_LOG");
  if (target == nullptr || *target == '\0') return;
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  if (std::strcmp(target, "-") == 0) {
    std::fprintf(stderr, "%s: %s\n", library, line);
    return;
  }
  // Opened per line, so every line is on disk before the call returns.
  std::FILE* file = std::fopen(target, "a");
  if (file == nullptr) return;
  std::fprintf(file, "%s: %s\n", library, line);
  std::fclose(file);
}

}  // namespace

#endif

// The wire trace of the communications control: when the environment
// variable VORNE_TRACE names a file (or "-" for standard error), each port
// open with its device and line settings, every byte out and in, and each
// close are appended there, one line per event with a UTC time to the
// millisecond. A failed open records the operating system's reason.
#ifndef VORNE_PLATFORM_WIRE_TRACE_H
#define VORNE_PLATFORM_WIRE_TRACE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

class WireTrace {
 public:
  // The trace the environment asks for, or null when tracing is off or its
  // file cannot be opened. Read once per port open.
  static std::unique_ptr<WireTrace> FromEnvironment();

  WireTrace(const WireTrace&) = delete;
  WireTrace& operator=(const WireTrace&) = delete;
  ~WireTrace();

  void Opened(int port, std::string_view device, std::string_view settings);
  void OpenFailed(int port, std::string_view device, std::string_view reason);
  void Settings(int port, std::string_view settings);
  void Out(int port, const std::uint8_t* bytes, std::size_t count);
  void In(int port, const std::uint8_t* bytes, std::size_t count);
  void Failed(int port, std::string_view what, std::string_view reason);
  void Closed(int port);

 private:
  WireTrace(std::FILE* file, bool owned) : file_(file), owned_(owned) {}
  void Line(int port, std::string_view text);
  void Bytes(int port, std::string_view direction, const std::uint8_t* bytes, std::size_t count);

  std::FILE* file_;
  bool owned_;
};

#endif

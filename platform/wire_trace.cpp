#include "platform/wire_trace.h"

#include <chrono>
#include <cstdlib>

namespace {

// "2026-12-08 15:43:51.123", UTC.
std::string Now() {
  using namespace std::chrono;
  const auto now = time_point_cast<milliseconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss time{now - day};
  char text[32];
  std::snprintf(text, sizeof(text), "%04d-%02u-%02u %02d:%02d:%02d.%03d",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()));
  return text;
}

}  // namespace

std::unique_ptr<WireTrace> WireTrace::FromEnvironment() {
  const char* target = std::getenv("VORNE_TRACE");
  if (target == nullptr || *target == '\0') return nullptr;
  if (std::string_view(target) == "-")
    return std::unique_ptr<WireTrace>(new WireTrace(stderr, false));
  std::FILE* file = std::fopen(target, "a");
  if (file == nullptr) return nullptr;
  return std::unique_ptr<WireTrace>(new WireTrace(file, true));
}

WireTrace::~WireTrace() {
  if (owned_) std::fclose(file_);
}

void WireTrace::Line(int port, std::string_view text) {
  // One write per line, flushed at once, so lines of several writers to one
  // file stay whole and nothing is lost if the host dies.
  std::string line = Now();
  line += " COM";
  line += std::to_string(port);
  line += ' ';
  line += text;
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

void WireTrace::Opened(int port, std::string_view device, std::string_view settings) {
  Line(port, "open " + std::string(device) + " " + std::string(settings));
}

void WireTrace::OpenFailed(int port, std::string_view device, std::string_view reason) {
  Line(port, "open failed " + std::string(device) + ": " + std::string(reason));
}

void WireTrace::Settings(int port, std::string_view settings) {
  Line(port, "settings " + std::string(settings));
}

void WireTrace::Out(int port, const std::uint8_t* bytes, std::size_t count) {
  Bytes(port, "out", bytes, count);
}

void WireTrace::In(int port, const std::uint8_t* bytes, std::size_t count) {
  Bytes(port, "in", bytes, count);
}

void WireTrace::Failed(int port, std::string_view what, std::string_view reason) {
  Line(port, std::string(what) + " failed: " + std::string(reason));
}

void WireTrace::Closed(int port) { Line(port, "close"); }

void WireTrace::Bytes(int port, std::string_view direction, const std::uint8_t* bytes,
                      std::size_t count) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text(direction);
  text += ' ';
  text += std::to_string(count);
  text += ':';
  for (std::size_t i = 0; i < count; ++i) {
    text += ' ';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  Line(port, text);
}

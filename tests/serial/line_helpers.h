// Helpers for tests on a real line: waiting for bytes to come through, and
// a wire trace file of the test's own.
#ifndef VORNE_TESTS_SERIAL_LINE_HELPERS_H
#define VORNE_TESTS_SERIAL_LINE_HELPERS_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/pty_pair.h"

namespace vorne_test {

// Polls `done` until it holds or 5 s have passed (a loaded machine may be
// slow to pass bytes on); returns whether it held.
template <class Done>
bool Eventually(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Points VORNE_TRACE at a fresh file for the object's life.
class WireTrace {
 public:
  WireTrace() {
    char name[] = "/tmp/vorne-trace-XXXXXX";
    const int fd = ::mkstemp(name);
    EXPECT_GE(fd, 0) << "no trace file";
    if (fd >= 0) ::close(fd);
    path_ = name;
    env_.emplace("VORNE_TRACE", path_);
  }
  ~WireTrace() {
    env_.reset();
    ::unlink(path_.c_str());
  }
  WireTrace(const WireTrace&) = delete;
  WireTrace& operator=(const WireTrace&) = delete;

  // The trace's lines with the time stamp checked and cut off.
  std::vector<std::string> Lines() const {
    std::ifstream file(path_);
    std::vector<std::string> lines;
    const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}Z (.*)$)");
    for (std::string line; std::getline(file, line);) {
      std::smatch match;
      EXPECT_TRUE(std::regex_match(line, match, stamp)) << line;
      lines.push_back(match.size() > 1 ? match[1].str() : line);
    }
    return lines;
  }

 private:
  std::string path_;
  std::optional<ScopedEnv> env_;
};

}  // namespace vorne_test

#endif

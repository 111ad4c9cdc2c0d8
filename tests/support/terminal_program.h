// A program as a user starts it at a terminal: the leader of its own
// session, the terminal cooked as a new one is. The test holds the terminal
// to type at it, read the screen and see its settings afterwards.
//
// The constructor returns once the program runs, and by then it may already
// have changed the terminal: what it had before is taken before the start.
#ifndef VORNE_TESTS_SUPPORT_TERMINAL_PROGRAM_H
#define VORNE_TESTS_SUPPORT_TERMINAL_PROGRAM_H

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/child_process.h"
#include "support/pty_pair.h"

namespace vorne_test {

struct TerminalProgram {
  TerminalProgram(const std::string& path, const std::vector<std::string>& args,
                  std::map<std::string, std::string> env = {})
      : modesBefore(ReadModes(tty)),
        program(ChildCommand(path, args).Env(std::move(env)).OnTerminal(tty.SlavePath())) {}

  // Reads the screen until `text` shows; false after 10 s.
  bool Shows(const std::string& text) { return screen.WaitFor(text, std::chrono::seconds(10)); }
  const std::string& Screen() const { return screen.Text(); }
  // The terminal's local modes now (ICANON, ECHO, ISIG, ...); read them
  // once the program is done with the terminal (after Wait).
  unsigned LocalModes() const { return ReadModes(tty); }
  // The terminal hangs up, as when the user's window closes.
  void HangUp() {
    screen.Detach();
    tty.HangUp();
  }

  static unsigned ReadModes(const PtyPair& line) {
    const auto modes = line.SlaveTermios();
    EXPECT_TRUE(modes.has_value()) << "the terminal is gone";
    return modes ? modes->c_lflag : 0;
  }

  // Declared in this order: the modes are read before the program starts.
  PtyPair tty{PtyPair::Line::kCooked};
  unsigned modesBefore;  // the local modes before the program started
  ChildProcess program;
  OutputReader screen{tty.MasterFd()};
};

}  // namespace vorne_test

#endif

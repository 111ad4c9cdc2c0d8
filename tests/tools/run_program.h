// Runs a program with arguments and captures its output and exit code.
#ifndef VORNE_TESTS_TOOLS_RUN_PROGRAM_H
#define VORNE_TESTS_TOOLS_RUN_PROGRAM_H

#include <map>
#include <string>
#include <vector>

namespace vorne_test {

struct ProgramResult {
  int exitCode = -1;  // -1: did not exit normally
  std::string out;
  std::string err;
};

// Runs `path` with `args`, extra environment `env`, stdin from /dev/null.
ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {});

// A program left running, as a user starts it: in its own session on a new
// terminal (its controlling terminal, for standard input, output and error),
// or with standard output into a pipe the test reads.
class RunningProgram {
 public:
  enum class Output { kTerminal, kPipe };
  RunningProgram(const std::string& path, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env = {},
                 Output output = Output::kTerminal);
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  // Reads what the program shows until `text` turns up; false after 10 s.
  bool WaitFor(const std::string& text);
  const std::string& Screen() const { return screen_; }
  // Types at the terminal.
  void Type(const std::string& keys);
  void Signal(int number);
  // Closes the test's end of the output: the terminal hangs up, the pipe
  // loses its reader.
  void CloseOutput();
  // The exit code, or 128 + n when killed by signal n.
  int Wait();
  // The terminal's settings now (the test keeps the terminal open).
  bool TerminalModes(unsigned* localFlags) const;

 private:
  int pid_ = -1;
  int master_ = -1;  // the terminal, or the pipe's read end
  int slave_ = -1;
  std::string screen_;
};

}  // namespace vorne_test

#endif

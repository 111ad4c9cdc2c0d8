// Runs a program with arguments to its end and captures its output and exit
// code.
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

}  // namespace vorne_test

#endif

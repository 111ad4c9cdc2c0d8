#include "run_program.h"

#include "support/child_process.h"

namespace vorne_test {

ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env) {
  // Files, not pipes: the output is read once the program is done.
  ChildProcess program(ChildCommand(path, args).Env(env).Out(Stream::kFile).Err(Stream::kFile));
  ProgramResult result;
  result.exitCode = program.Wait().code;
  result.out = program.Out().ReadToEnd();
  result.err = program.Err().ReadToEnd();
  if (!program.Error().empty()) result.err += program.Error() + "\n";
  return result;
}

}  // namespace vorne_test

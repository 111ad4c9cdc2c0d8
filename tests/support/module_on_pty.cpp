#include "support/module_on_pty.h"

namespace vorne_test {

ModuleOnPtyTest::ModuleOnPtyTest(int com)
    : com_(com), comPort_(com, pty_.SlavePath()), watch_(pty_.SlavePath()) {}

void ModuleOnPtyTest::SetUp() {
  ASSERT_TRUE(pty_.Ok()) << pty_.Error();
  ASSERT_TRUE(watch_.ok()) << "cannot watch " << pty_.SlavePath();
  LoadedModuleTest::SetUp();
}

Bytes ModuleOnPtyTest::OnTheLine(std::size_t count, std::chrono::milliseconds within) {
  return pty_.ReadMaster(count, within);
}

Bytes ModuleOnPtyTest::RestOfTheLine(std::chrono::milliseconds quiet) {
  return pty_.ReadAvailable(quiet);
}

}  // namespace vorne_test

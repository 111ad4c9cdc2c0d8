// The loaded module beside a camera line: the module loaded through LumoDll,
// a pseudo-terminal as the camera's serial line and the module's COM port
// mapped to it. The line starts cooked, as a user's terminal does, so bytes
// come out changed (0A as 0D 0A) unless the module makes the line raw.
#ifndef VORNE_TESTS_SUPPORT_MODULE_ON_PTY_H
#define VORNE_TESTS_SUPPORT_MODULE_ON_PTY_H

#include <chrono>
#include <cstddef>

#include "support/module_fixture.h"
#include "support/port_watch.h"
#include "support/pty_pair.h"

namespace vorne_test {

class ModuleOnPtyTest : public LoadedModuleTest {
 protected:
  // The line is COM`com`: the host selects it with SetComPort(com - 1).
  explicit ModuleOnPtyTest(int com);
  void SetUp() override;

  // What the host passes to SetComPort for the line.
  int HostPort() const { return com_ - 1; }

  // The next `count` bytes the module put on the line; fewer when `within`
  // passed first. Generous, for a loaded machine.
  Bytes OnTheLine(std::size_t count,
                  std::chrono::milliseconds within = std::chrono::milliseconds(5000));
  // Whatever else comes before the line has been quiet for `quiet`: empty
  // when the module sent nothing more.
  Bytes RestOfTheLine(std::chrono::milliseconds quiet = std::chrono::milliseconds(100));
  // Opens and closes of the line's device since the last call.
  PortCycles TakeCycles() { return watch_.Take(); }

  const int com_;
  PtyPair pty_{PtyPair::Line::kCooked};
  ScopedComPort comPort_;  // set before the module loads
  PortWatch watch_;
};

}  // namespace vorne_test

#endif

// Fixtures for tests of the module's insides and of the loaded module.
#ifndef VORNE_TESTS_SUPPORT_MODULE_FIXTURE_H
#define VORNE_TESTS_SUPPORT_MODULE_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hostkit/host_object.h"
#include "hostkit/module_loader.h"

namespace vorne_test {

// In-process tests: the module's objects are linked into the test, so its
// host log is module-wide state. Each test starts with a fresh sink that
// captures lines, and ends with it released.
class InProcessTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Attaches `host_` as the module's log sink.
  void AttachLog();
  std::vector<std::string> LogLines() const { return host_.Lines(); }

  hostkit::HostObject host_;
};

// Loads vorne.so through dlopen and LumoDll, as a host does.
class LoadedModuleTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A new "WCameraControler" with IPtzControl; fails the test on error.
  IPtzControl* NewCamera();

  hostkit::LoadedModule module_;
  hostkit::HostObject host_;
  std::vector<IPtzControl*> cameras_;
};

}  // namespace vorne_test

#endif

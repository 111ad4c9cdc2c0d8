#include "support/module_fixture.h"

#include "hostlog/host_log.h"

using namespace vorne;

namespace vorne_test {

void InProcessTest::SetUp() { ReleaseHostLog(); }

void InProcessTest::TearDown() { ReleaseHostLog(); }

void InProcessTest::AttachLog() {
  ReleaseHostLog();
  ASSERT_EQ(AttachHostLog(&host_, u"VORNE", 3, 2), S_OK);
}

void LoadedModuleTest::SetUp() { ASSERT_TRUE(module_.Load(VORNE_MODULE_PATH)) << module_.Error(); }

void LoadedModuleTest::TearDown() {
  for (IPtzControl* camera : cameras_) camera->Release();
  cameras_.clear();
  module_.Unload();
}

IPtzControl* LoadedModuleTest::NewCamera() {
  IPtzControl* camera = nullptr;
  EXPECT_EQ(module_.CreateCamera(&host_, &camera), S_OK);
  if (camera != nullptr) cameras_.push_back(camera);
  return camera;
}

}  // namespace vorne_test

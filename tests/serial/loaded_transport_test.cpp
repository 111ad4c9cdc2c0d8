// The transport as a host meets it: the module loaded with dlopen, a
// Pelco-D camera on a pseudo-terminal, the line at the host's baud rate and
// the wire trace written by the loaded module.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/line_helpers.h"
#include "support/module_fixture.h"
#include "support/pty_pair.h"

namespace {

using vorne_test::Hex;
using vorne_test::PtyPair;
using vorne_test::ScopedComPort;

class LoadedTransportTest : public vorne_test::LoadedModuleTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Ok()) << pty_.Error();
    LoadedModuleTest::SetUp();
  }

  PtyPair pty_;
  ScopedComPort com1_{1, pty_.SlavePath()};
  vorne_test::WireTrace trace_;  // set before the module loads
};

TEST_F(LoadedTransportTest, PelcoDFrameReachesTheLineAtTheHostsRate) {
  IPtzControl* camera = NewCamera();
  ASSERT_NE(camera, nullptr);
  ASSERT_EQ(camera->CreateController(PTZ_TYPE_PELCO_D, reinterpret_cast<HWND>(0x4242), 0), S_OK);
  ASSERT_EQ(camera->SetComPort(0), S_OK);
  ASSERT_EQ(camera->SetBaudRate(4800), S_OK);

  ASSERT_EQ(camera->Command(PTZ_PAN_LEFT), S_OK);
  EXPECT_EQ(Hex(pty_.ReadMaster(7)), "FF 01 00 04 20 00 25");
  EXPECT_EQ(pty_.SlaveBaud(), 4800);
  ASSERT_EQ(camera->DestroyController(), S_OK);  // stops the camera
  EXPECT_EQ(Hex(pty_.ReadMaster(7)), "FF 01 00 00 00 00 01");

  EXPECT_EQ(trace_.Lines(), (std::vector<std::string>{
                                "COM1 open " + pty_.SlavePath() + " 9600,n,8,1",
                                "COM1 settings 4800,n,8,1",
                                "COM1 out 7: FF 01 00 04 20 00 25",
                                "COM1 close",
                                "COM1 open " + pty_.SlavePath() + " 4800,n,8,1",
                                "COM1 out 7: FF 01 00 00 00 00 01",
                                "COM1 close",
                            }));
  EXPECT_EQ(host_.Lines(),
            (std::vector<std::string>{"Set Control COM Port 1.\n", "SetBaudRate 4800.\n"}));
}

// A controller made under a host's parent window must not pin the module:
// unloading still ends it and gives back the log sink.
TEST_F(LoadedTransportTest, UnloadingAfterAControllerReleasesTheModule) {
  const int sinks = hostkit::HostObject::LiveSinks();
  IPtzControl* camera = NewCamera();
  ASSERT_NE(camera, nullptr);
  ASSERT_EQ(camera->CreateController(PTZ_TYPE_PELCO_D, reinterpret_cast<HWND>(0x4243), 0), S_OK);
  EXPECT_EQ(hostkit::HostObject::LiveSinks(), sinks + 1);
  for (IPtzControl* c : cameras_) c->Release();
  cameras_.clear();
  module_.Unload();
  EXPECT_EQ(hostkit::HostObject::LiveSinks(), sinks);
}

}  // namespace

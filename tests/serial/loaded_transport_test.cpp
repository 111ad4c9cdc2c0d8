// The transport as a host meets it: the module loaded with dlopen, a
// Pelco-D camera on a pseudo-terminal, the line at the host's baud rate and
// the wire trace written by the loaded module.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "serial/line_helpers.h"
#include "support/golden_frames.h"
#include "support/module_on_pty.h"

namespace {

using vorne_test::Hex;

class LoadedTransportTest : public vorne_test::ModuleOnPtyTest {
 protected:
  LoadedTransportTest() : ModuleOnPtyTest(1) {}

  vorne_test::WireTrace trace_;  // set before the module loads
};

TEST_F(LoadedTransportTest, PelcoDFrameReachesTheLineAtTheHostsRate) {
  IPtzControl* camera = NewCamera();
  ASSERT_NE(camera, nullptr);
  ASSERT_EQ(camera->CreateController(PTZ_TYPE_PELCO_D, reinterpret_cast<HWND>(0x4242), 0), S_OK);
  ASSERT_EQ(camera->SetComPort(HostPort()), S_OK);
  ASSERT_EQ(camera->SetBaudRate(4800), S_OK);

  ASSERT_EQ(camera->Command(PTZ_PAN_LEFT), S_OK);
  EXPECT_EQ(Hex(OnTheLine(7)), "FF 01 00 04 20 00 25");
  EXPECT_EQ(pty_.SlaveBaud(), 4800);
  ASSERT_EQ(camera->DestroyController(), S_OK);  // stops the camera
  EXPECT_EQ(Hex(OnTheLine(7)), "FF 01 00 00 00 00 01");

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

// The line starts as a user's terminal: a newline written to it goes out
// as CR LF. Once the module has had it, it is raw and stays raw, so a zoom
// frame, whose speed bytes are 0A, goes out as it is.
TEST_F(LoadedTransportTest, TheModuleMakesTheCookedLineRaw) {
  ASSERT_EQ(::write(pty_.SlaveFd(), "\n", 1), 1);
  EXPECT_EQ(Hex(OnTheLine(2)), "0D 0A");

  IPtzControl* camera = NewCamera();
  ASSERT_NE(camera, nullptr);
  ASSERT_EQ(camera->CreateController(PTZ_TYPE_PELCO_D, reinterpret_cast<HWND>(0x4244), 0), S_OK);
  ASSERT_EQ(camera->SetComPort(HostPort()), S_OK);
  ASSERT_EQ(camera->Command(PTZ_ZOOM_OUT), S_OK);
  const vorne_test::Bytes& frame = vorne_test::kPelcoDAddress1[vorne_test::SlotOf(PTZ_ZOOM_OUT)];
  EXPECT_EQ(Hex(OnTheLine(frame.size())), Hex(frame));
  EXPECT_EQ(Hex(RestOfTheLine()), "");

  const std::optional<termios> line = pty_.SlaveTermios();
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(line->c_oflag & OPOST, 0u);
  EXPECT_EQ(line->c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(line->c_iflag & ICRNL, 0u);
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

// Re-addressing the Pelco frames: the address byte and checksum of all eight
// frames, the log line, and when nothing happens.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "frame_tables.h"
#include "hostlog/host_log.h"
#include "protocols/drivers.h"
#include "support/module_fixture.h"

using namespace vorne;

namespace {

using namespace vorne_test;
using Lines = std::vector<std::string>;

class PelcoAddressTest : public InProcessTest {
 protected:
  void SetUp() override {
    InProcessTest::SetUp();
    AttachLog();
  }

  struct Step {
    int code;
    Lines log;
    FrameSet frames;
  };
  // Each step sets its code, logs its lines and leaves its frames; nothing
  // is ever sent.
  template <typename Driver>
  void Walk(const FrameSet& initial, const std::vector<Step>& steps) {
    FrameRecorder<Driver> driver;
    ASSERT_EQ(AllFrames(driver), initial);
    for (const Step& step : steps) {
      SCOPED_TRACE(step.code);
      EXPECT_EQ(driver.SetAddressCode(step.code), 1);
      EXPECT_EQ(LogLines(), step.log);
      host_.ClearLines();
      EXPECT_EQ(AllFrames(driver), step.frames);
    }
    EXPECT_TRUE(driver.writes.empty());
  }
};

// Checksums worked out by hand; the address-255 sums wrap past 0xFF.
const FrameSet kPelcoDAddress255 = PelcoD(0xFF, {0x27, 0x2F, 0x23, 0x21, 0x53, 0x33, 0xFF, 0xFF});
const FrameSet kPelcoDAddress0 = PelcoD(0x00, {0x28, 0x30, 0x24, 0x22, 0x54, 0x34, 0x00, 0x00});
const FrameSet kPelcoPAddressFF = PelcoP(0xFF, {0xC8, 0xD0, 0xE4, 0xE2, 0xD0, 0xB0, 0xF0, 0xF0});

TEST_F(PelcoAddressTest, PelcoDRewritesAddressAndChecksumOfEveryFrame) {
  Walk<PelcoDController>(kPelcoDAddress1,
                         {
                             {1, {}, kPelcoDAddress1},
                             {2, {"Set AddrCode 2.\n"}, kPelcoDAddress2},
                             {2, {}, kPelcoDAddress2},
                             {255, {"Set AddrCode 255.\n"}, kPelcoDAddress255},
                             {256, {"Set AddrCode 256.\n"}, kPelcoDAddress0},
                             {0, {}, kPelcoDAddress0},  // 256 left byte 0x00, so 0 is no change
                             {256, {"Set AddrCode 256.\n"}, kPelcoDAddress0},
                             {-1, {"Set AddrCode -1.\n"}, kPelcoDAddress255},
                             {INT_MIN + 2, {"Set AddrCode -2147483646.\n"}, kPelcoDAddress2},
                         });
}

TEST_F(PelcoAddressTest, PelcoPAddressByteIsCodeMinusOne) {
  Walk<PelcoPController>(kPelcoPAddress0,
                         {
                             {1, {}, kPelcoPAddress0},
                             {2, {"Set AddrCode 2.\n"}, kPelcoPAddress1},
                             {2, {}, kPelcoPAddress1},
                             {0, {"Set AddrCode 0.\n"}, kPelcoPAddressFF},
                             {256, {}, kPelcoPAddressFF},  // 0xFF + 1
                             {0, {"Set AddrCode 0.\n"}, kPelcoPAddressFF},
                             {257, {"Set AddrCode 257.\n"}, kPelcoPAddress0},
                             {INT_MIN, {"Set AddrCode -2147483648.\n"}, kPelcoPAddressFF},
                             {INT_MAX,
                              {"Set AddrCode 2147483647.\n"},
                              PelcoP(0xFE, {0xC9, 0xD1, 0xE5, 0xE3, 0xD1, 0xB1, 0xF1, 0xF1})},
                         });
}

TEST_F(PelcoAddressTest, AChangeWithoutSinkStillRewrites) {
  ReleaseHostLog();
  FrameRecorder<PelcoDController> d;
  EXPECT_EQ(d.SetAddressCode(2), 1);
  EXPECT_EQ(AllFrames(d), kPelcoDAddress2);
}

// The address changes under a running motion without stopping it; the stop
// that follows goes to the new address.
TEST_F(PelcoAddressTest, RunningMotionsStopAtTheNewAddress) {
  FrameRecorder<PelcoDController> d;
  d.PanLeft();
  d.ZoomIn();
  EXPECT_EQ(d.SetAddressCode(2), 1);
  EXPECT_EQ(d.TiltUp(), 0);  // still moving
  d.Stop();
  EXPECT_EQ(d.writes, (FrameSet{kPelcoDAddress1[2], kPelcoDAddress1[5], kPelcoDAddress2[6],
                                kPelcoDAddress2[7]}));

  FrameRecorder<PelcoPController> p;
  p.TiltDown();
  p.ZoomOut();
  EXPECT_EQ(p.SetAddressCode(0), 1);
  p.Stop();
  EXPECT_EQ(p.writes, (FrameSet{kPelcoPAddress0[1], kPelcoPAddress0[4], kPelcoPAddressFF[6],
                                kPelcoPAddressFF[7]}));
}

}  // namespace

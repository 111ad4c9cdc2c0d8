// Re-addressing the Pelco frames: the address byte and checksum of all eight
// frames, the log line, and when nothing happens.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "frame_recorder.h"
#include "plugin/host_log.h"
#include "protocols/drivers.h"
#include "support/module_fixture.h"

namespace {

using vorne_test::AllFrames;
using vorne_test::ByteVector;
using vorne_test::FrameRecorder;

class PelcoAddressTest : public vorne_test::InProcessTest {
 protected:
  void SetUp() override {
    InProcessTest::SetUp();
    AttachLog();
  }
  std::vector<std::string> TakeLog() {
    std::vector<std::string> lines = LogLines();
    host_.ClearLines();
    return lines;
  }
};

using Lines = std::vector<std::string>;

// Pelco-D frames for one address, by slot order.
std::vector<ByteVector> PelcoD(std::uint8_t address, std::vector<std::uint8_t> checksums) {
  const ByteVector bodies[8] = {
      {0x00, 0x08, 0x00, 0x20}, {0x00, 0x10, 0x00, 0x20}, {0x00, 0x04, 0x20, 0x00},
      {0x00, 0x02, 0x20, 0x00}, {0x00, 0x40, 0x0A, 0x0A}, {0x00, 0x20, 0x0A, 0x0A},
      {0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00},
  };
  std::vector<ByteVector> frames;
  for (int i = 0; i < 8; ++i) {
    ByteVector f = {0xFF, address};
    f.insert(f.end(), bodies[i].begin(), bodies[i].end());
    f.push_back(checksums[i]);
    frames.push_back(f);
  }
  return frames;
}

std::vector<ByteVector> PelcoP(std::uint8_t address, std::vector<std::uint8_t> checksums) {
  const ByteVector bodies[8] = {
      {0x00, 0x08, 0x00, 0x30}, {0x00, 0x10, 0x00, 0x30}, {0x00, 0x04, 0x10, 0x00},
      {0x00, 0x02, 0x10, 0x00}, {0x00, 0x20, 0x00, 0x00}, {0x00, 0x40, 0x00, 0x00},
      {0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00},
  };
  std::vector<ByteVector> frames;
  for (int i = 0; i < 8; ++i) {
    ByteVector f = {0xA0, address};
    f.insert(f.end(), bodies[i].begin(), bodies[i].end());
    f.push_back(0xAF);
    f.push_back(checksums[i]);
    frames.push_back(f);
  }
  return frames;
}

// Checksums worked out by hand from the frame layouts, slot order.
const std::vector<ByteVector> kPelcoDAddress1 =
    PelcoD(0x01, {0x29, 0x31, 0x25, 0x23, 0x55, 0x35, 0x01, 0x01});
const std::vector<ByteVector> kPelcoDAddress2 =
    PelcoD(0x02, {0x2A, 0x32, 0x26, 0x24, 0x56, 0x36, 0x02, 0x02});
const std::vector<ByteVector> kPelcoDAddress255 =  // sums wrap past 0xFF
    PelcoD(0xFF, {0x27, 0x2F, 0x23, 0x21, 0x53, 0x33, 0xFF, 0xFF});
const std::vector<ByteVector> kPelcoDAddress0 =
    PelcoD(0x00, {0x28, 0x30, 0x24, 0x22, 0x54, 0x34, 0x00, 0x00});

const std::vector<ByteVector> kPelcoPAddress0 =
    PelcoP(0x00, {0x37, 0x2F, 0x1B, 0x1D, 0x2F, 0x4F, 0x0F, 0x0F});
const std::vector<ByteVector> kPelcoPAddress1 =
    PelcoP(0x01, {0x36, 0x2E, 0x1A, 0x1C, 0x2E, 0x4E, 0x0E, 0x0E});
const std::vector<ByteVector> kPelcoPAddressFF =
    PelcoP(0xFF, {0xC8, 0xD0, 0xE4, 0xE2, 0xD0, 0xB0, 0xF0, 0xF0});

TEST_F(PelcoAddressTest, PelcoDRewritesAddressAndChecksumOfEveryFrame) {
  FrameRecorder<PelcoDController> d;
  ASSERT_EQ(AllFrames(d), kPelcoDAddress1);

  struct Step {
    int code;
    Lines log;
    const std::vector<ByteVector>& frames;
  };
  const Step steps[] = {
      {1, {}, kPelcoDAddress1},
      {2, {"Set AddrCode 2.\n"}, kPelcoDAddress2},
      {2, {}, kPelcoDAddress2},
      {255, {"Set AddrCode 255.\n"}, kPelcoDAddress255},
      {256, {"Set AddrCode 256.\n"}, kPelcoDAddress0},
      {0, {}, kPelcoDAddress0},  // 256 left byte 0x00, so 0 is no change
      {256, {"Set AddrCode 256.\n"}, kPelcoDAddress0},
      {-1, {"Set AddrCode -1.\n"}, kPelcoDAddress255},
      {INT_MIN + 2, {"Set AddrCode -2147483646.\n"}, kPelcoDAddress2},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.code);
    EXPECT_EQ(d.SetAddressCode(step.code), 1);
    EXPECT_EQ(TakeLog(), step.log);
    EXPECT_EQ(AllFrames(d), step.frames);
  }
  EXPECT_TRUE(d.writes.empty());
}

TEST_F(PelcoAddressTest, PelcoPAddressByteIsCodeMinusOne) {
  FrameRecorder<PelcoPController> p;
  ASSERT_EQ(AllFrames(p), kPelcoPAddress0);

  struct Step {
    int code;
    Lines log;
    const std::vector<ByteVector>& frames;
  };
  const Step steps[] = {
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
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.code);
    EXPECT_EQ(p.SetAddressCode(step.code), 1);
    EXPECT_EQ(TakeLog(), step.log);
    EXPECT_EQ(AllFrames(p), step.frames);
  }
  EXPECT_TRUE(p.writes.empty());
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
  EXPECT_EQ(d.writes, (std::vector<ByteVector>{kPelcoDAddress1[2], kPelcoDAddress1[5],
                                               kPelcoDAddress2[6], kPelcoDAddress2[7]}));

  FrameRecorder<PelcoPController> p;
  p.TiltDown();
  p.ZoomOut();
  EXPECT_EQ(p.SetAddressCode(0), 1);
  p.Stop();
  EXPECT_EQ(p.writes, (std::vector<ByteVector>{kPelcoPAddress0[1], kPelcoPAddress0[4],
                                               kPelcoPAddressFF[6], kPelcoPAddressFF[7]}));
}

}  // namespace

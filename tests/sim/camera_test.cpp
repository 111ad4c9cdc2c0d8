// Simulated cameras: motion integrated over a hand-driven clock, frames
// they must not act on, and the TAC camera's reply modes.
#include "sim/camera.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/tac.h"

namespace sim {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

Bytes H(std::string_view hex) { return ParseHex(hex).value_or(Bytes{}); }

class CameraTest : public ::testing::Test {
 protected:
  Camera Make(Protocol protocol) { return Camera(protocol, clock_); }
  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
};

TEST_F(CameraTest, PanPositionGrowsWithTimeAndHoldsAfterStop) {
  Camera camera = Make(Protocol::kPelcoD);
  auto events = camera.Feed(H("FF 01 00 04 20 00 25"));  // pan left, speed 0x20
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0].applied);
  EXPECT_EQ(events[0].state.pan.direction, -1);
  clock_->Advance(2s);
  const double expected = -2.0 * kPanDegreesPerSecond * 0x20 / 0x3F;
  EXPECT_NEAR(camera.State().pan.position, expected, 1e-9);
  camera.Feed(H("FF 01 00 00 00 00 01"));
  clock_->Advance(5s);
  const CameraState state = camera.State();
  EXPECT_NEAR(state.pan.position, expected, 1e-9);
  EXPECT_FALSE(state.Moving());
  EXPECT_EQ(state.frames, 2u);
  EXPECT_EQ(state.lastAddress, 1);
}

TEST_F(CameraTest, PelcoFramesCarryTheWholeMotion) {
  // A Pelco camera reads each frame as the complete motion: starting a zoom
  // with a frame that names no pan stops the pan.
  Camera camera = Make(Protocol::kPelcoD);
  camera.Feed(H("FF 01 00 04 20 00 25"));
  camera.Feed(H("FF 01 00 20 0A 0A 35"));
  const CameraState state = camera.State();
  EXPECT_FALSE(state.pan.Moving());
  EXPECT_EQ(state.zoom.direction, 1);
}

TEST_F(CameraTest, ViscaAndCanonMoveTheirAxesIndependently) {
  for (const auto& [protocol, pan, zoom, stopPan] :
       {std::tuple{Protocol::kVisca, "81 01 06 01 09 10 01 03 FF 00", "81 01 04 07 24 FF 00",
                   "81 01 06 01 10 10 03 03 FF 00"},
        std::tuple{Protocol::kCanon, "FF 30 30 00 53 32 EF", "FF 30 30 00 A2 32 EF",
                   "FF 30 30 00 53 30 EF"}}) {
    Camera camera = Make(protocol);
    camera.Feed(H(pan));
    camera.Feed(H(zoom));
    camera.Flush();
    EXPECT_EQ(camera.State().pan.direction, -1) << TypeName(protocol);
    EXPECT_EQ(camera.State().zoom.direction, 1) << TypeName(protocol);
    camera.Feed(H(stopPan));
    camera.Flush();
    EXPECT_FALSE(camera.State().pan.Moving()) << TypeName(protocol);
    EXPECT_TRUE(camera.State().zoom.Moving()) << TypeName(protocol);
  }
}

TEST_F(CameraTest, PositionsStayWithinTheirRanges) {
  Camera camera = Make(Protocol::kTac);
  camera.Feed(H("2A 30 30 36 01 32 00 30 30 35 33"));  // tilt up
  camera.Feed(H("2A 30 30 37 35 30 32 30 30 42 38"));  // zoom in
  camera.Feed(H("2A 30 30 36 04 30 30 32 00 35 36"));  // pan right
  clock_->Advance(100s);
  const CameraState state = camera.State();
  EXPECT_DOUBLE_EQ(state.tilt.position, kTiltLimit);
  EXPECT_DOUBLE_EQ(state.zoom.position, kZoomMax);
  EXPECT_GE(state.pan.position, -180.0);
  EXPECT_LT(state.pan.position, 180.0);
  // 100 s at half of 90 degrees a second is 4500 degrees: 12.5 turns.
  EXPECT_NEAR(state.pan.position, -180.0, 1e-6);
}

TEST_F(CameraTest, StateIsTheSameWhetherReadOftenOrOnce) {
  Camera often = Make(Protocol::kVideotrec);
  often.Feed(H("FA 03 00 00 60 00 5D"));
  for (int i = 0; i < 1000; ++i) {
    clock_->Advance(1ms);
    often.State();
  }
  Camera once = Make(Protocol::kVideotrec);
  once.Feed(H("FA 03 00 00 60 00 5D"));  // starts 1 s later on the shared clock
  clock_->Advance(1s);
  const double perSecond = kPanDegreesPerSecond * 0x60 / 0x7F;
  EXPECT_NEAR(once.State().pan.position, -perSecond, 1e-6);
  EXPECT_NEAR(often.State().pan.position, -2 * perSecond, 1e-6);
}

TEST_F(CameraTest, BadChecksumIsNotActedOn) {
  Camera camera = Make(Protocol::kPelcoD);
  const auto events = camera.Feed(H("FF 01 00 04 20 00 24"));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_FALSE(events[0].applied);
  EXPECT_EQ(events[0].note, "bad checksum");
  EXPECT_FALSE(camera.State().Moving());
  EXPECT_EQ(camera.State().badFrames, 1u);
  EXPECT_FALSE(camera.State().lastAddress.has_value());
}

TEST_F(CameraTest, FramesForAnotherAddressAreIgnoredWhenAnAddressIsSet) {
  Camera camera = Make(Protocol::kPelcoP);
  camera.SetAddress(2);
  auto events = camera.Feed(H("A0 00 00 04 10 00 AF 1B"));  // camera 1
  ASSERT_EQ(events.size(), 1u);
  EXPECT_FALSE(events[0].applied);
  EXPECT_EQ(events[0].note, "addressed to 1, this camera is 2");
  EXPECT_FALSE(camera.State().Moving());
  events = camera.Feed(H("A0 01 00 08 00 30 AF 36"));  // camera 2, tilt up
  EXPECT_TRUE(events[0].applied);
  EXPECT_EQ(camera.State().tilt.direction, 1);
  EXPECT_EQ(camera.State().lastAddress, 2);
  EXPECT_EQ(camera.State().ignored, 1u);
}

TEST_F(CameraTest, GarbageIsCountedNotActedOn) {
  Camera camera = Make(Protocol::kPelcoD);
  const auto events = camera.Feed(H("01 02 03 FF 01 00 04 20 00 25"));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, Event::Kind::kGarbage);
  EXPECT_EQ(events[1].kind, Event::Kind::kFrame);
  EXPECT_EQ(camera.State().strayBytes, 3u);
}

TEST_F(CameraTest, OnlyTheTacCameraAnswers) {
  for (const Protocol protocol : kAllProtocols) {
    if (protocol == Protocol::kTac) continue;
    Camera camera = Make(protocol);
    for (const Event& e : camera.Feed(H("FF 01 00 04 20 00 25 81 01 04 07 00 FF 00"))) {
      EXPECT_FALSE(e.reply.has_value()) << TypeName(protocol);
    }
  }
}

struct ReplyCase {
  ReplyMode mode;
  std::size_t size;  // 0: no reply
  bool checksumRight;
  Duration delay;
};

std::ostream& operator<<(std::ostream& os, const ReplyCase& c) {
  return os << ReplyModeName(c.mode);
}

class TacReplyTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(TacReplyTest, AnswersAsTheModeSays) {
  const ReplyCase& c = GetParam();
  Camera camera(Protocol::kTac, std::make_shared<ManualClock>());
  camera.SetReplyMode(c.mode);
  const Bytes request = H("2A 30 30 37 35 30 32 30 30 42 38");
  const auto events = camera.Feed(request);
  ASSERT_EQ(events.size(), 1u);
  if (c.size == 0) {
    EXPECT_FALSE(events[0].reply.has_value());
    return;
  }
  ASSERT_TRUE(events[0].reply.has_value());
  const Reply& reply = *events[0].reply;
  EXPECT_EQ(reply.mode, c.mode);
  EXPECT_EQ(reply.bytes.size(), c.size);
  EXPECT_EQ(reply.delay, c.delay);
  EXPECT_EQ(reply.bytes[0], kTacStart);
  if (c.size == kTacMessageSize) {
    // Judged as the module judges it: positions 9-10 against the sum of 0-8.
    const auto chars = TacChecksumChars(TacSum(reply.bytes));
    const bool right = reply.bytes[9] == chars[0] && reply.bytes[10] == chars[1];
    EXPECT_EQ(right, c.checksumRight) << Hex(reply.bytes);
    // Both characters stay uppercase hex, so only the value is wrong.
    for (const std::uint8_t ch : {reply.bytes[9], reply.bytes[10]}) {
      EXPECT_TRUE((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F')) << Hex(reply.bytes);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllModes, TacReplyTest,
    ::testing::Values(ReplyCase{ReplyMode::kRight, 11, true, Duration::zero()},
                      ReplyCase{ReplyMode::kWrongChecksum, 11, false, Duration::zero()},
                      ReplyCase{ReplyMode::kShort, 6, false, Duration::zero()},
                      ReplyCase{ReplyMode::kSilent, 0, false, Duration::zero()},
                      ReplyCase{ReplyMode::kDelayed, 11, true, kDefaultReplyDelay}));

TEST(TacReplyModeTest, WrongChecksumIsWrongForEveryRequest) {
  // Off by one in the sum: every one of the module's seven requests gets a
  // reply whose checksum fails.
  for (const char* request :
       {"2A 30 30 36 03 30 30 32 00 35 35", "2A 30 30 36 04 30 30 32 00 35 36",
        "2A 30 30 36 01 32 00 30 30 35 33", "2A 30 30 36 02 32 00 30 30 35 34",
        "2A 30 30 37 35 30 32 30 30 42 38", "2A 30 30 37 35 30 34 30 30 42 41",
        "2A 30 30 37 35 30 39 30 30 42 46"}) {
    Camera camera(Protocol::kTac);
    camera.SetReplyMode(ReplyMode::kWrongChecksum);
    const auto events = camera.Feed(H(request));
    ASSERT_TRUE(events.at(0).reply.has_value());
    const auto decoded = MakeDecoder(Protocol::kTac)->Feed(events[0].reply->bytes);
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(decoded[0].check.verdict, Check::Verdict::kBad) << request;
  }
}

TEST(TacReplyModeTest, NoAnswerToABadRequest) {
  Camera camera(Protocol::kTac);
  const auto events = camera.Feed(H("2A 30 30 37 35 30 32 30 30 62 38"));  // lowercase b
  ASSERT_EQ(events.size(), 1u);
  EXPECT_FALSE(events[0].reply.has_value());
}

TEST_F(CameraTest, EventLineShowsBytesMeaningVerdictAndState) {
  Camera camera = Make(Protocol::kPelcoD);
  auto events = camera.Feed(H("FF 02 00 04 20 00 26 FF 01 00 04 20 00 24"));
  ASSERT_EQ(events.size(), 2u);
  const std::string good = FormatEvent(events[0]);
  EXPECT_THAT(good, HasSubstr(" rx FF 02 00 04 20 00 26 | pan left, speed 0x20, address 2 | "
                              "checksum ok | pan 0.0 (left), tilt 0.0, zoom 1.00x, address 2"));
  const std::string bad = FormatEvent(events[1]);
  EXPECT_THAT(bad, HasSubstr("checksum BAD (expected 0x25, got 0x24) | ignored: bad checksum"));
  events = camera.Feed(H("00"));
  EXPECT_THAT(FormatEvent(events.at(0)), HasSubstr(" ?? 00 | 1 byte outside any frame"));

  // Stamped like the module's wire trace: UTC marked Z, whatever the zone.
  using namespace std::chrono;
  events[0].wallTime = sys_days{year{2026} / 12 / 10} + 7h + 15min + 2s + 123ms;
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  EXPECT_THAT(FormatEvent(events[0]), ::testing::StartsWith("2026-12-10 07:15:02.123Z ?? 00 |"));
  unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace sim

// The decoders against the exact frames the module puts on the wire, their
// checksum failures, and streams cut, padded and mangled every which way.
#include "sim/decoder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "sim/tac.h"
#include "support/golden_frames.h"

namespace sim {
namespace {

using ::testing::HasSubstr;

Bytes H(std::string_view hex) {
  auto bytes = ParseHex(hex);
  EXPECT_TRUE(bytes.has_value()) << hex;
  return bytes.value_or(Bytes{});
}

// Feeds the bytes in one piece and flushes: everything the decoder gives.
std::vector<Decoded> FeedAndFlush(Decoder& decoder, std::span<const std::uint8_t> bytes) {
  auto out = decoder.Feed(bytes);
  const auto rest = decoder.Flush();
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

std::vector<Decoded> DecodeAll(Protocol protocol, const Bytes& stream) {
  return FeedAndFlush(*MakeDecoder(protocol), stream);
}

// A golden frame as the decoders' hex.
std::string G(const vorne_test::FrameSet& frames, vorne_test::Slot slot) {
  return Hex(frames[slot]);
}
std::string G(const vorne_test::ByteVector& frame) { return Hex(frame); }

using enum Protocol;
using namespace vorne_test;
constexpr auto kOk = Check::Verdict::kOk;
constexpr auto kNone = Check::Verdict::kNone;

struct FrameCase {
  Protocol protocol;
  std::string hex;
  Check::Verdict verdict;
  const char* meaning;
  // Pan, tilt, zoom: 'L'eft/'R'ight, 'U'p/'D'own, 'I'n/'O'ut, 'S'top, '-' untouched.
  const char* axes;
  int address;  // -1: none
};

std::optional<int> Direction(char c) {
  switch (c) {
    case 'L':
    case 'D':
    case 'O': return -1;
    case 'R':
    case 'U':
    case 'I': return 1;
    case 'S': return 0;
    default: return std::nullopt;
  }
}

std::ostream& operator<<(std::ostream& os, const FrameCase& c) {
  return os << TypeName(c.protocol) << " " << c.hex;
}

// Every frame the module stores or builds, and the address rewrites.
const FrameCase kModuleFrames[] = {
    // VISCA, each with the module's trailing 0x00.
    {kVisca, G(kViscaFrames, kTiltUp), kNone,
     "tilt up, pan speed 0x03, tilt speed 0x07, address 1, trailing 0x00", "SU-", 1},
    {kVisca, G(kViscaFrames, kTiltDown), kNone, "tilt down", "SD-", 1},
    {kVisca, G(kViscaFrames, kPanLeft), kNone, "pan left, pan speed 0x09", "LS-", 1},
    {kVisca, G(kViscaFrames, kPanRight), kNone, "pan right", "RS-", 1},
    {kVisca, G(kViscaFrames, kZoomOut), kNone, "zoom out (wide), speed 4", "--O", 1},
    {kVisca, G(kViscaFrames, kZoomIn), kNone, "zoom in (tele), speed 4", "--I", 1},
    {kVisca, G(kViscaFrames, kPanTiltStop), kNone, "pan-tilt stop", "SS-", 1},
    {kVisca, G(kViscaFrames, kZoomStop), kNone, "zoom stop", "--S", 1},
    {kVisca, "82 01 04 07 02 FF", kNone, "zoom in (tele), standard speed, address 2", "--I", 2},
    {kVisca, "88 01 00 01 FF", kNone, "interface clear, broadcast", "---", -1},
    // Pelco-D.
    {kPelcoD, G(kPelcoDAddress1, kTiltUp), kOk, "tilt up, speed 0x20, address 1", "SUS", 1},
    {kPelcoD, G(kPelcoDAddress1, kTiltDown), kOk, "tilt down, speed 0x20", "SDS", 1},
    {kPelcoD, G(kPelcoDAddress1, kPanLeft), kOk, "pan left, speed 0x20, address 1", "LSS", 1},
    {kPelcoD, G(kPelcoDAddress1, kPanRight), kOk, "pan right, speed 0x20", "RSS", 1},
    {kPelcoD, G(kPelcoDAddress1, kZoomOut), kOk, "zoom out (wide)", "SSO", 1},
    {kPelcoD, G(kPelcoDAddress1, kZoomIn), kOk, "zoom in (tele)", "SSI", 1},
    {kPelcoD, G(kPelcoDAddress1, kPanTiltStop), kOk, "stop, address 1", "SSS", 1},
    {kPelcoD, G(kPelcoDAddress2, kTiltUp), kOk, "tilt up, speed 0x20, address 2", "SUS", 2},
    {kPelcoD, G(kPelcoDAddress2, kPanTiltStop), kOk, "stop, address 2", "SSS", 2},
    {kPelcoD, G(kPelcoDAddress255, kTiltDown), kOk, "tilt down, speed 0x20, address 255", "SDS",
     255},
    {kPelcoD, G(kPelcoDAddress255, kZoomOut), kOk, "zoom out (wide), address 255", "SSO", 255},
    {kPelcoD, "FF 01 00 07 00 05 0D", kOk, "go to preset 5", "---", 1},
    // Pelco-P: 0x20 is zoom in (tele), 0x40 zoom out (wide), as the common
    // Pelco-P documents have it; the module's zoom frames show reversed.
    {kPelcoP, G(kPelcoPAddress0, kTiltUp), kOk, "tilt up, speed 0x30, address 1 (byte 0x00)", "SUS",
     1},
    {kPelcoP, G(kPelcoPAddress0, kTiltDown), kOk, "tilt down, speed 0x30", "SDS", 1},
    {kPelcoP, G(kPelcoPAddress0, kPanLeft), kOk, "pan left, speed 0x10", "LSS", 1},
    {kPelcoP, G(kPelcoPAddress0, kPanRight), kOk, "pan right, speed 0x10", "RSS", 1},
    {kPelcoP, G(kPelcoPAddress0, kZoomOut), kOk, "zoom in (tele), address 1", "SSI", 1},
    {kPelcoP, G(kPelcoPAddress0, kZoomIn), kOk, "zoom out (wide), address 1", "SSO", 1},
    {kPelcoP, G(kPelcoPAddress0, kPanTiltStop), kOk, "stop, address 1 (byte 0x00)", "SSS", 1},
    {kPelcoP, G(kPelcoPAddress1, kTiltUp), kOk, "tilt up, speed 0x30, address 2 (byte 0x01)", "SUS",
     2},
    {kPelcoP, G(kPelcoPAddress1, kPanTiltStop), kOk, "stop, address 2", "SSS", 2},
    {kPelcoP, G(kPelcoPAddress255, kTiltUp), kOk, "address 256 (byte 0xFF)", "SUS", 256},
    {kPelcoP, G(kPelcoPAddress255, kPanTiltStop), kOk, "stop, address 256", "SSS", 256},
    // VIDEOTREC_PWT.
    {kVideotrec, G(kVideotrecFrames, kTiltUp), kOk, "tilt up, speed 0x60", "-U-", -1},
    {kVideotrec, G(kVideotrecFrames, kTiltDown), kOk, "tilt down, speed 0x60", "-D-", -1},
    {kVideotrec, G(kVideotrecFrames, kPanLeft), kOk, "pan left, speed 0x60", "L--", -1},
    {kVideotrec, G(kVideotrecFrames, kPanRight), kOk, "pan right, speed 0x60", "R--", -1},
    {kVideotrec, G(kVideotrecFrames, kZoomOut), kOk, "zoom out (wide), speed 0x60", "--O", -1},
    {kVideotrec, G(kVideotrecFrames, kZoomIn), kOk, "zoom in (tele), speed 0x60", "--I", -1},
    {kVideotrec, G(kVideotrecFrames, kPanTiltStop), kOk, "stop (operation 0x01 at speed 0x00)",
     "SSS", -1},
    // Canon VC-C50i.
    {kCanon, G(kCanonPrepareFirst), kNone, "preparation (0x90 0x30)", "---", -1},
    {kCanon, G(kCanonPrepareSecond), kNone, "preparation (0xA0 0x31)", "---", -1},
    {kCanon, G(kCanonFinish), kNone, "finishing (0x90 0x31)", "---", -1},
    {kCanon, G(kCanonFrames, kPanRight), kNone, "pan right", "R--", -1},
    {kCanon, G(kCanonFrames, kPanLeft), kNone, "pan left", "L--", -1},
    {kCanon, G(kCanonFrames, kTiltUp), kNone, "tilt up", "-U-", -1},
    {kCanon, G(kCanonFrames, kTiltDown), kNone, "tilt down", "-D-", -1},
    {kCanon, G(kCanonFrames, kPanTiltStop), kNone, "pan-tilt stop", "SS-", -1},
    {kCanon, G(kCanonFrames, kZoomOut), kNone, "zoom out (wide)", "--O", -1},
    {kCanon, G(kCanonFrames, kZoomIn), kNone, "zoom in (tele)", "--I", -1},
    {kCanon, G(kCanonFrames, kZoomStop), kNone, "zoom stop", "--S", -1},
    // TAC, raw bytes 0x00-0x04 in the bodies.
    {kTac, G(kTacFrames, kPanLeft), kOk, "pan left, address \"00\"", "L--", 0},
    {kTac, G(kTacFrames, kPanRight), kOk, "pan right", "R--", 0},
    {kTac, G(kTacFrames, kTiltUp), kOk, "tilt up", "-U-", 0},
    {kTac, G(kTacFrames, kTiltDown), kOk, "tilt down", "-D-", 0},
    {kTac, G(kTacFrames, kZoomIn), kOk, "zoom in (tele)", "--I", 0},
    {kTac, G(kTacFrames, kZoomOut), kOk, "zoom out (wide)", "--O", 0},
    {kTac, G(kTacFrames, kPanTiltStop), kOk, "stop", "SSS", 0},
};

class ModuleFrameTest : public ::testing::TestWithParam<FrameCase> {};

void ExpectFrame(const FrameCase& c, const Decoded& d) {
  EXPECT_TRUE(d.IsFrame());
  EXPECT_EQ(Hex(d.bytes), c.hex);
  EXPECT_EQ(d.check.verdict, c.verdict) << d.check.Describe();
  EXPECT_THAT(d.meaning, HasSubstr(c.meaning));
  auto dir = [](const std::optional<AxisCommand>& a) -> std::optional<int> {
    if (!a) return std::nullopt;
    return a->direction;
  };
  EXPECT_EQ(dir(d.command.pan), Direction(c.axes[0])) << "pan";
  EXPECT_EQ(dir(d.command.tilt), Direction(c.axes[1])) << "tilt";
  EXPECT_EQ(dir(d.command.zoom), Direction(c.axes[2])) << "zoom";
  EXPECT_EQ(d.command.address, c.address < 0 ? std::nullopt : std::optional<int>(c.address));
}

TEST_P(ModuleFrameTest, DecodesAsOneFrame) {
  const FrameCase& c = GetParam();
  auto decoder = MakeDecoder(c.protocol);
  auto out = decoder->Feed(H(c.hex));
  // A VISCA frame is told only by the byte after it whether a trailer follows.
  if (out.empty() && c.protocol == kVisca) out = decoder->Flush();
  ASSERT_EQ(out.size(), 1u) << "decoded " << out.size() << " items";
  ExpectFrame(c, out[0]);
  EXPECT_TRUE(out[0].Accepted());
  EXPECT_TRUE(decoder->Flush().empty());
}

TEST_P(ModuleFrameTest, DecodesTheSameWhateverTheCutsAre) {
  const FrameCase& c = GetParam();
  const Bytes frame = H(c.hex);
  for (std::size_t cut = 1; cut < frame.size(); ++cut) {
    auto decoder = MakeDecoder(c.protocol);
    auto out = decoder->Feed(std::span(frame).first(cut));
    EXPECT_TRUE(out.empty()) << "cut at " << cut << ": " << out[0].meaning;
    out = decoder->Feed(std::span(frame).subspan(cut));
    if (out.empty()) out = decoder->Flush();
    ASSERT_EQ(out.size(), 1u) << "cut at " << cut;
    ExpectFrame(c, out[0]);
  }
  auto decoder = MakeDecoder(c.protocol);
  std::vector<Decoded> out;
  for (std::size_t i = 0; i + 1 < frame.size(); ++i) {
    const auto part = decoder->Feed(std::span(frame).subspan(i, 1));
    out.insert(out.end(), part.begin(), part.end());
  }
  const auto last = FeedAndFlush(*decoder, std::span(frame).last(1));
  out.insert(out.end(), last.begin(), last.end());
  ASSERT_EQ(out.size(), 1u) << "byte by byte";
  ExpectFrame(c, out[0]);
}

TEST_P(ModuleFrameTest, SurvivesNoiseAroundIt) {
  const FrameCase& c = GetParam();
  // Noise with a start byte of every protocol in it, and the frame twice.
  const Bytes stream = H("00 FF 12 A0 81 FA 2A 55 " + c.hex + " 12 34 " + c.hex);
  std::vector<Decoded> good;
  for (const Decoded& d : DecodeAll(c.protocol, stream)) {
    if (d.IsFrame() && Hex(d.bytes) == c.hex) good.push_back(d);
  }
  EXPECT_EQ(good.size(), 2u);
  for (const Decoded& f : good) ExpectFrame(c, f);
}

INSTANTIATE_TEST_SUITE_P(AllProtocols, ModuleFrameTest, ::testing::ValuesIn(kModuleFrames));

struct BadCase {
  Protocol protocol;
  const char* hex;
  const char* expected;
  const char* actual;
};

std::ostream& operator<<(std::ostream& os, const BadCase& c) {
  return os << TypeName(c.protocol) << " " << c.hex;
}

class ChecksumFailureTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(ChecksumFailureTest, ReportsTheExpectedValue) {
  const BadCase& c = GetParam();
  const auto out = DecodeAll(c.protocol, H(c.hex));
  ASSERT_EQ(out.size(), 1u);
  const Decoded& d = out[0];
  EXPECT_TRUE(d.IsFrame());
  EXPECT_FALSE(d.Accepted());
  EXPECT_EQ(Hex(d.bytes), c.hex);
  EXPECT_EQ(d.check.verdict, Check::Verdict::kBad);
  EXPECT_EQ(d.check.expected, c.expected);
  EXPECT_EQ(d.check.actual, c.actual);
  EXPECT_EQ(d.check.Describe(),
            std::string("BAD (expected ") + c.expected + ", got " + c.actual + ")");
  EXPECT_FALSE(d.meaning.empty());
}

const BadCase kBadChecksums[] = {
    // Pelco-D sums bytes 2-6 only: a sum that took in the 0xFF sync is off by 0xFF.
    {kPelcoD, "FF 01 00 04 20 00 24", "0x25", "0x24"},
    {kPelcoD, "FF 02 00 08 00 20 29", "0x2A", "0x29"},
    {kPelcoD, "FF FF 00 10 00 20 30", "0x2F", "0x30"},
    // Pelco-P XORs bytes 1-7, start and end included.
    {kPelcoP, "A0 00 00 08 00 30 AF 38", "0x37", "0x38"},
    {kPelcoP, "A0 01 00 00 00 00 AF 0F", "0x0E", "0x0F"},
    // VIDEOTREC masks the sum to 7 bits: 0xFB is wrong, 0x7B right.
    {kVideotrec, "FA 01 00 00 00 00 FB", "0x7B", "0xFB"},
    {kVideotrec, "FA 0C 00 00 60 00 67", "0x66", "0x67"},
    // TAC: uppercase hex only, and the sum of positions 0-8.
    {kTac, "2A 30 30 37 35 30 32 30 30 62 38", "\"B8\"", "\"b8\""},
    {kTac, "2A 30 30 36 03 30 30 32 00 35 36", "\"55\"", "\"56\""},
    {kTac, "2A 30 30 36 03 30 30 32 00 00 00", "\"55\"", "0x00 0x00"},
};

INSTANTIATE_TEST_SUITE_P(AllChecksums, ChecksumFailureTest, ::testing::ValuesIn(kBadChecksums));

TEST(DecoderTest, BadChecksumDoesNotHideTheNextFrame) {
  const auto out = DecodeAll(kPelcoD, H("FF 01 00 04 20 00 24 FF 01 00 00 00 00 01"));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_FALSE(out[0].Accepted());
  EXPECT_TRUE(out[1].Accepted());
  EXPECT_EQ(out[1].meaning, "stop, address 1");
}

TEST(DecoderTest, NoiseStartingLikeAFrameDoesNotSwallowTheRealOne) {
  // "FF 12" reads as the start of a Pelco-D frame that would run into the
  // real one; the real frame must win.
  const auto out = DecodeAll(kPelcoD, H("FF 12 FF 01 00 04 20 00 25"));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].kind, Decoded::Kind::kGarbage);
  EXPECT_EQ(Hex(out[0].bytes), "FF 12");
  EXPECT_EQ(Hex(out[1].bytes), "FF 01 00 04 20 00 25");
  EXPECT_TRUE(out[1].Accepted());
}

TEST(DecoderTest, WaitsBeforeCallingAFrameBadWhenARealOneMayFollow) {
  auto decoder = MakeDecoder(kPelcoD);
  // Could be a bad frame, or noise before a frame that starts at the second 0xFF.
  EXPECT_TRUE(decoder->Feed(H("FF 12 FF 01 00 04 20")).empty());
  const auto out = decoder->Feed(H("00 25"));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_TRUE(out[1].Accepted());
}

struct MalformedCase {
  Protocol protocol;
  const char* hex;
  const char* quietReason;     // when nothing follows
  const char* followedReason;  // when a good frame follows
  const char* following;
};

std::ostream& operator<<(std::ostream& os, const MalformedCase& c) {
  return os << TypeName(c.protocol) << " " << c.hex;
}

class MalformedTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedTest, IsReportedAndTheNextFrameStillDecodes) {
  const MalformedCase& c = GetParam();
  const auto out = DecodeAll(c.protocol, H(std::string(c.hex) + " " + c.following));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out.front().kind, Decoded::Kind::kGarbage);
  EXPECT_EQ(Hex(out.front().bytes), c.hex);
  EXPECT_THAT(out.front().meaning, HasSubstr(c.followedReason));
  EXPECT_EQ(Hex(out.back().bytes), c.following);
  EXPECT_TRUE(out.back().Accepted());
}

TEST_P(MalformedTest, IsReportedWhenTheLineGoesQuiet) {
  const MalformedCase& c = GetParam();
  auto decoder = MakeDecoder(c.protocol);
  const auto out = FeedAndFlush(*decoder, H(c.hex));
  ASSERT_FALSE(out.empty());
  EXPECT_THAT(out.front().meaning, HasSubstr(c.quietReason));
  Bytes seen;
  for (const Decoded& d : out) {
    EXPECT_EQ(d.kind, Decoded::Kind::kGarbage) << d.meaning;
    seen.insert(seen.end(), d.bytes.begin(), d.bytes.end());
  }
  EXPECT_EQ(Hex(seen), c.hex);
  EXPECT_FALSE(decoder->HasPending());
}

const MalformedCase kMalformed[] = {
    {kPelcoD, "FF 01 00 04", "truncated frame, 4 of 7 bytes",
     "truncated frame, 4 bytes before the next frame", "FF 01 00 00 00 00 01"},
    {kPelcoP, "A0 00 00 08 00 30 00 37", "without the 0xAF end byte", "without the 0xAF end byte",
     "A0 00 00 00 00 00 AF 0F"},
    {kPelcoP, "A0 00 00", "truncated frame, 3 of 8 bytes", "without the 0xAF end byte",
     "A0 00 00 00 00 00 AF 0F"},
    {kVideotrec, "FA 01 00", "truncated frame, 3 of 7 bytes",
     "truncated frame, 3 bytes before the next frame", "FA 01 00 00 00 00 7B"},
    {kCanon, "FF 30 30 00 53 32 00", "without the 0xEF end byte", "without the 0xEF end byte",
     "FF 30 30 00 53 30 EF"},
    {kVisca, "81 01 06 01 03 07 03 01 00 00 00 00 00 00 00 00 00",
     "no 0xFF terminator within 16 bytes", "no 0xFF terminator within 16 bytes",
     "81 01 04 07 00 FF 00"},
    {kVisca, "81 FF", "empty message", "empty message", "81 01 04 07 00 FF 00"},
    {kVisca, "81 01 06", "truncated message, no 0xFF terminator",
     "truncated message, 0x81 before the 0xFF terminator", "81 01 04 07 00 FF 00"},
    {kTac, "2A 30 30 36", "truncated message, 4 of 11 bytes",
     "truncated frame, 4 bytes before the next frame", "2A 30 30 37 35 30 39 30 30 42 46"},
    {kTac, "13 37", "2 bytes outside any frame", "2 bytes outside any frame",
     "2A 30 30 37 35 30 39 30 30 42 46"},
};

INSTANTIATE_TEST_SUITE_P(AllProtocols, MalformedTest, ::testing::ValuesIn(kMalformed));

TEST(DecoderTest, ViscaKeepsTheTrailingZeroWithItsFrame) {
  auto decoder = MakeDecoder(kVisca);
  // Without the next byte it cannot tell whether a trailer follows.
  EXPECT_TRUE(decoder->Feed(H("81 01 04 07 24 FF")).empty());
  auto out = decoder->Feed(H("00 81 01 04 07 00 FF 81"));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(Hex(out[0].bytes), "81 01 04 07 24 FF 00");
  EXPECT_THAT(out[0].meaning, HasSubstr("trailing 0x00"));
  EXPECT_EQ(Hex(out[1].bytes), "81 01 04 07 00 FF");
  EXPECT_THAT(out[1].meaning, ::testing::Not(HasSubstr("trailing")));
}

TEST(DecoderTest, GarbageAloneIsReportedWithItsBytes) {
  for (const Protocol protocol : kAllProtocols) {
    const auto out = DecodeAll(protocol, H("01 02 03"));
    ASSERT_EQ(out.size(), 1u) << TypeName(protocol);
    EXPECT_EQ(out[0].kind, Decoded::Kind::kGarbage);
    EXPECT_EQ(Hex(out[0].bytes), "01 02 03");
    EXPECT_EQ(out[0].meaning, "3 bytes outside any frame");
  }
}

// A stop frame of each protocol, in declaration order.
const char* const kStopFrames[] = {"81 01 04 07 00 FF 00",    "FF 01 00 00 00 00 01",
                                   "A0 00 00 00 00 00 AF 0F", "FA 01 00 00 00 00 7B",
                                   "FF 30 30 00 53 30 EF",    "2A 30 30 37 35 30 39 30 30 42 46"};

// Whatever arrives, every byte comes out exactly once, in order, as part of
// a frame or of a garbage report: nothing is lost, duplicated or reordered.
TEST(DecoderTest, RandomStreamsLoseNoByteAndNeverStopDecoding) {
  std::mt19937 random(20240611);
  const Bytes starts = H("FF A0 81 FA 2A 88 EF AF");
  for (const Protocol protocol : kAllProtocols) {
    for (int round = 0; round < 200; ++round) {
      Bytes stream(random() % 200);
      for (auto& b : stream) {
        // Plenty of start and end bytes, so frames half form and break.
        b = random() % 3 == 0 ? starts[random() % starts.size()]
                              : static_cast<std::uint8_t>(random());
      }
      auto decoder = MakeDecoder(protocol);
      Bytes seen;
      std::size_t at = 0;
      while (at < stream.size()) {
        const std::size_t n = std::min<std::size_t>(1 + random() % 13, stream.size() - at);
        for (const Decoded& d : decoder->Feed(std::span(stream).subspan(at, n))) {
          seen.insert(seen.end(), d.bytes.begin(), d.bytes.end());
        }
        at += n;
      }
      for (const Decoded& d : decoder->Flush()) {
        seen.insert(seen.end(), d.bytes.begin(), d.bytes.end());
      }
      ASSERT_EQ(Hex(seen), Hex(stream)) << TypeName(protocol) << " round " << round;
      // And the decoder still works afterwards.
      const char* good = kStopFrames[static_cast<int>(protocol)];
      const auto out = FeedAndFlush(*decoder, H(good));
      ASSERT_FALSE(out.empty());
      EXPECT_EQ(Hex(out.back().bytes), good);
      EXPECT_TRUE(out.back().Accepted());
    }
  }
}

TEST(TacTest, ChecksumCharactersAreUppercaseHexOfTheSum) {
  Bytes message = H("2A 30 30 37 35 30 32 30 30 00 00");
  EXPECT_EQ(TacSum(message), 0xB8);
  StampTacChecksum(std::span<std::uint8_t, kTacMessageSize>(message.data(), kTacMessageSize));
  EXPECT_EQ(Hex(message), "2A 30 30 37 35 30 32 30 30 42 38");
  EXPECT_EQ(TacChecksumChars(0x0F), (std::array<std::uint8_t, 2>{'0', 'F'}));
  EXPECT_EQ(TacChecksumChars(0xA0), (std::array<std::uint8_t, 2>{'A', '0'}));
}

TEST(HexTest, ParsesTheUsualSpellings) {
  EXPECT_EQ(Hex(H("ff 01 0A")), "FF 01 0A");
  EXPECT_EQ(Hex(H("ff010a")), "FF 01 0A");
  EXPECT_EQ(Hex(H("0xFF,0x01")), "FF 01");
  EXPECT_FALSE(ParseHex("FF 1").has_value());
  EXPECT_FALSE(ParseHex("GG").has_value());
}

TEST(ProtocolTest, NamesAndAliasesRoundTrip) {
  for (const Protocol protocol : kAllProtocols) {
    EXPECT_EQ(ParseProtocol(TypeName(protocol)), protocol);
    EXPECT_EQ(ParseProtocol(Alias(protocol)), protocol);
  }
  EXPECT_EQ(ParseProtocol("pelco_d"), kPelcoD);
  EXPECT_EQ(ParseProtocol("vc_c50i"), kCanon);
  EXPECT_FALSE(ParseProtocol("RC20").has_value());
  EXPECT_EQ(TypeId(kTac), 3);
  EXPECT_EQ(TypeId(kPelcoP), 7);
}

}  // namespace
}  // namespace sim

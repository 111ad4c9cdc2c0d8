// TAC requests: "*", a two-character address, a six-byte body and two
// checksum characters. Pan and tilt bodies are "6" and a raw direction byte
// (0x01 up, 0x02 down, 0x03 left, 0x04 right); zoom and stop bodies are
// "75" and a two-character argument ("02" in, "04" out, "09" stop).
#include <algorithm>

#include "sim/protocol_decoders.h"
#include "sim/tac.h"

namespace sim {

std::uint8_t TacSum(std::span<const std::uint8_t> message) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < message.size() && i < 9; ++i) sum += message[i];
  return static_cast<std::uint8_t>(sum);
}

std::array<std::uint8_t, 2> TacChecksumChars(std::uint8_t sum) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {static_cast<std::uint8_t>(kDigits[sum >> 4]),
          static_cast<std::uint8_t>(kDigits[sum & 0x0F])};
}

void StampTacChecksum(std::span<std::uint8_t, kTacMessageSize> message) {
  const auto chars = TacChecksumChars(TacSum(message));
  message[9] = chars[0];
  message[10] = chars[1];
}

namespace {

bool Printable(std::uint8_t b) { return b >= 0x20 && b < 0x7F; }

// Two characters as the user would read them: "\"B8\"" when printable, in
// hex otherwise.
std::string Chars(std::uint8_t a, std::uint8_t b) {
  if (Printable(a) && Printable(b)) return std::string{'"', char(a), char(b), '"'};
  return HexByte(a) + " " + HexByte(b);
}

class TacDecoder final : public Decoder {
 public:
  TacDecoder() : Decoder(Protocol::kTac) {}

 protected:
  bool IsStart(std::uint8_t byte) const override { return byte == kTacStart; }

  Candidate Delimit(std::span<const std::uint8_t> buffer, bool final) const override {
    if (buffer.size() >= kTacMessageSize) return Framed(kTacMessageSize);
    return final ? Reject("truncated message, " + std::to_string(buffer.size()) + " of 11 bytes")
                 : NeedMore();
  }

  Check Verify(std::span<const std::uint8_t> f) const override {
    const auto expected = TacChecksumChars(TacSum(f));
    Check check;
    check.verdict =
        (f[9] == expected[0] && f[10] == expected[1]) ? Check::Verdict::kOk : Check::Verdict::kBad;
    check.expected = Chars(expected[0], expected[1]);
    check.actual = Chars(f[9], f[10]);
    return check;
  }

  void Interpret(std::span<const std::uint8_t> f, Decoded& out) const override {
    constexpr double kFixed = 0.5;
    std::string text;
    if (f[3] == '6') {
      switch (f[4]) {
        case 0x01:
          out.command.tilt = AxisCommand{1, kFixed};
          text = "tilt up";
          break;
        case 0x02:
          out.command.tilt = AxisCommand{-1, kFixed};
          text = "tilt down";
          break;
        case 0x03:
          out.command.pan = AxisCommand{-1, kFixed};
          text = "pan left";
          break;
        case 0x04:
          out.command.pan = AxisCommand{1, kFixed};
          text = "pan right";
          break;
        default: text = "pan-tilt with unknown direction " + HexByte(f[4]); break;
      }
    } else if (f[3] == '7' && f[4] == '5' && f[5] == '0' && f[6] == '2') {
      out.command.zoom = AxisCommand{1, kFixed};
      text = "zoom in (tele)";
    } else if (f[3] == '7' && f[4] == '5' && f[5] == '0' && f[6] == '4') {
      out.command.zoom = AxisCommand{-1, kFixed};
      text = "zoom out (wide)";
    } else if (f[3] == '7' && f[4] == '5' && f[5] == '0' && f[6] == '9') {
      out.command.pan = out.command.tilt = out.command.zoom = AxisCommand{0, 0.0};
      text = "stop";
    } else {
      text = "command " + Hex(f.subspan(3, 6)) + " (not simulated)";
    }
    if (f[1] >= '0' && f[1] <= '9' && f[2] >= '0' && f[2] <= '9') {
      out.command.address = (f[1] - '0') * 10 + (f[2] - '0');
    }
    text += ", address " + Chars(f[1], f[2]);
    out.meaning = std::move(text);
  }
};

}  // namespace

std::unique_ptr<Decoder> MakeTacDecoder() { return std::make_unique<TacDecoder>(); }

}  // namespace sim

// VIDEOTREC_PWT: FA op 00 00 speed 00 check, 7 bytes, the check byte being
// the sum of the first six bytes masked to 7 bits. A speed of 0 stops all
// motion whatever the operation says.
#include <algorithm>

#include "sim/protocol_decoders.h"

namespace sim {
namespace {

class VideotrecDecoder final : public Decoder {
 public:
  VideotrecDecoder() : Decoder(Protocol::kVideotrec) {}

 protected:
  bool IsStart(std::uint8_t byte) const override { return byte == 0xFA; }

  Candidate Delimit(std::span<const std::uint8_t> buffer, bool final) const override {
    if (buffer.size() >= 7) return Framed(7);
    return final ? Reject("truncated frame, " + std::to_string(buffer.size()) + " of 7 bytes")
                 : NeedMore();
  }

  Check Verify(std::span<const std::uint8_t> f) const override {
    unsigned sum = 0;
    for (std::size_t i = 0; i < 6; ++i) sum += f[i];
    const auto expected = static_cast<std::uint8_t>(sum & 0x7F);
    return Check::OfByte(expected, f[6]);
  }

  void Interpret(std::span<const std::uint8_t> f, Decoded& out) const override {
    const std::uint8_t op = f[1], speed = f[4];
    const double share = std::min(1.0, speed / static_cast<double>(0x7F));
    std::string text;
    if (speed == 0) {
      out.command.pan = out.command.tilt = out.command.zoom = AxisCommand{0, 0.0};
      text = "stop (operation " + HexByte(op) + " at speed 0x00)";
    } else {
      switch (op) {
        case 0x01:
          out.command.tilt = AxisCommand{1, share};
          text = "tilt up";
          break;
        case 0x02:
          out.command.tilt = AxisCommand{-1, share};
          text = "tilt down";
          break;
        case 0x03:
          out.command.pan = AxisCommand{-1, share};
          text = "pan left";
          break;
        case 0x04:
          out.command.pan = AxisCommand{1, share};
          text = "pan right";
          break;
        case 0x0B:
          out.command.zoom = AxisCommand{-1, share};
          text = "zoom out (wide)";
          break;
        case 0x0C:
          out.command.zoom = AxisCommand{1, share};
          text = "zoom in (tele)";
          break;
        default: text = "unknown operation " + HexByte(op); break;
      }
      text += ", speed " + HexByte(speed);
    }
    if (f[2] != 0 || f[3] != 0 || f[5] != 0) {
      text += ", unexpected data " + HexByte(f[2]) + " " + HexByte(f[3]) + " " + HexByte(f[5]);
    }
    out.meaning = std::move(text);
  }
};

}  // namespace

std::unique_ptr<Decoder> MakeVideotrecDecoder() { return std::make_unique<VideotrecDecoder>(); }

}  // namespace sim

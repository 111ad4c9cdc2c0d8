// Canon VC-C50i: FF 30 30 00 command parameter EF, 7 bytes, no checksum.
// 0x53 drives pan/tilt, 0xA2 the zoom; 0x90 and 0xA0 frames surround each
// motion (two before it, one after the stop).
#include "sim/protocol_decoders.h"

namespace sim {
namespace {

class CanonDecoder final : public Decoder {
 public:
  CanonDecoder() : Decoder(Protocol::kCanon) {}

 protected:
  bool IsStart(std::uint8_t byte) const override { return byte == 0xFF; }

  Candidate Delimit(std::span<const std::uint8_t> buffer, bool final) const override {
    if (buffer.size() >= 7) {
      if (buffer[6] != 0xEF) return Reject("0xFF start without the 0xEF end byte");
      return Framed(7);
    }
    return final ? Reject("truncated frame, " + std::to_string(buffer.size()) + " of 7 bytes")
                 : NeedMore();
  }

  Check Verify(std::span<const std::uint8_t>) const override { return {}; }

  void Interpret(std::span<const std::uint8_t> f, Decoded& out) const override {
    const std::uint8_t command = f[4], parameter = f[5];
    constexpr double kFixed = 0.5;
    std::string text;
    if (command == 0x53) {
      switch (parameter) {
        case 0x30:
          out.command.pan = out.command.tilt = AxisCommand{0, 0.0};
          text = "pan-tilt stop";
          break;
        case 0x31:
          out.command.pan = AxisCommand{1, kFixed};
          text = "pan right";
          break;
        case 0x32:
          out.command.pan = AxisCommand{-1, kFixed};
          text = "pan left";
          break;
        case 0x33:
          out.command.tilt = AxisCommand{1, kFixed};
          text = "tilt up";
          break;
        case 0x34:
          out.command.tilt = AxisCommand{-1, kFixed};
          text = "tilt down";
          break;
        default: text = "pan-tilt with unknown parameter " + HexByte(parameter); break;
      }
    } else if (command == 0xA2) {
      switch (parameter) {
        case 0x30:
          out.command.zoom = AxisCommand{0, 0.0};
          text = "zoom stop";
          break;
        case 0x31:
          out.command.zoom = AxisCommand{-1, kFixed};
          text = "zoom out (wide)";
          break;
        case 0x32:
          out.command.zoom = AxisCommand{1, kFixed};
          text = "zoom in (tele)";
          break;
        default: text = "zoom with unknown parameter " + HexByte(parameter); break;
      }
    } else if (command == 0x90 && parameter == 0x30) {
      text = "preparation (0x90 0x30)";
    } else if (command == 0xA0 && parameter == 0x31) {
      text = "preparation (0xA0 0x31)";
    } else if (command == 0x90 && parameter == 0x31) {
      text = "finishing (0x90 0x31)";
    } else {
      text = "command " + HexByte(command) + ", parameter " + HexByte(parameter);
    }
    if (f[1] != 0x30 || f[2] != 0x30 || f[3] != 0x00) {
      text += ", unexpected header " + Hex(f.subspan(1, 3));
    }
    out.meaning = std::move(text);
  }
};

}  // namespace

std::unique_ptr<Decoder> MakeCanonDecoder() { return std::make_unique<CanonDecoder>(); }

}  // namespace sim

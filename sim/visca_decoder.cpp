// VISCA, controller to camera: a header 0x8R (R the camera, 8 broadcast),
// 7-bit message bytes and the terminator 0xFF; at most 16 bytes, no checksum.
// The module sends one 0x00 after the terminator; it is kept with its frame
// so that the wire shows exactly what was sent.
#include <algorithm>

#include "sim/protocol_decoders.h"

namespace sim {
namespace {

constexpr std::size_t kMaxMessage = 16;

class ViscaDecoder final : public Decoder {
 public:
  ViscaDecoder() : Decoder(Protocol::kVisca) {}

 protected:
  bool IsStart(std::uint8_t byte) const override { return byte >= 0x81 && byte <= 0x88; }

  Candidate Delimit(std::span<const std::uint8_t> buffer, bool final) const override {
    const std::size_t limit = std::min(buffer.size(), kMaxMessage);
    for (std::size_t i = 1; i < limit; ++i) {
      const std::uint8_t b = buffer[i];
      if (b == 0xFF) {
        if (i < 2) return Reject("header " + HexByte(buffer[0]) + " with an empty message");
        if (i + 1 < buffer.size()) return Framed(buffer[i + 1] == 0x00 ? i + 2 : i + 1);
        // The trailer may still be on its way.
        return final ? Framed(i + 1) : NeedMore();
      }
      if (b & 0x80) {
        return Reject("truncated message, " + HexByte(b) + " before the 0xFF terminator");
      }
    }
    if (buffer.size() >= kMaxMessage) return Reject("no 0xFF terminator within 16 bytes");
    return final ? Reject("truncated message, no 0xFF terminator") : NeedMore();
  }

  Check Verify(std::span<const std::uint8_t>) const override { return {}; }

  void Interpret(std::span<const std::uint8_t> frame, Decoded& out) const override {
    const auto end = std::find(frame.begin(), frame.end(), std::uint8_t{0xFF});
    const std::span<const std::uint8_t> m(frame.begin(), end);  // header and body
    const int recipient = frame[0] & 0x0F;
    const bool trailer = static_cast<std::size_t>(end - frame.begin()) + 1 < frame.size();
    if (recipient != 8) out.command.address = recipient;

    auto is = [&](std::initializer_list<std::uint8_t> body) {
      return m.size() == body.size() + 1 && std::equal(body.begin(), body.end(), m.begin() + 1);
    };
    std::string text;
    if (m.size() == 8 && m[1] == 0x01 && m[2] == 0x06 && m[3] == 0x01) {
      text = PanTiltDrive(m, out.command);
    } else if (m.size() == 5 && m[1] == 0x01 && m[2] == 0x04 && m[3] == 0x07) {
      text = Zoom(m[4], out.command);
    } else if (is({0x01, 0x04, 0x00, 0x02})) {
      text = "power on";
    } else if (is({0x01, 0x04, 0x00, 0x03})) {
      text = "power off";
    } else if (is({0x01, 0x06, 0x04})) {
      text = "pan-tilt home";
    } else if (is({0x01, 0x06, 0x05})) {
      text = "pan-tilt reset";
    } else if (is({0x01, 0x00, 0x01})) {
      text = "interface clear";
    } else if (m.size() == 3 && m[1] == 0x30) {
      text = "address set, first camera " + std::to_string(m[2]);
    } else if (m.size() >= 2 && m[1] == 0x09) {
      text = "inquiry " + Hex(m.subspan(1));
    } else {
      text = "command " + Hex(m.subspan(1)) + " (not simulated)";
    }
    text += recipient == 8 ? ", broadcast" : ", address " + std::to_string(recipient);
    if (trailer) text += ", trailing 0x00 after the terminator";
    out.meaning = std::move(text);
  }

 private:
  static std::string PanTiltDrive(std::span<const std::uint8_t> m, Command& command) {
    const std::uint8_t panSpeed = m[4];
    const std::uint8_t tiltSpeed = m[5];
    const std::uint8_t panDir = m[6];
    const std::uint8_t tiltDir = m[7];
    if (panDir < 1 || panDir > 3 || tiltDir < 1 || tiltDir > 3) {
      return "pan-tilt drive with unknown directions " + HexByte(panDir) + " " + HexByte(tiltDir);
    }
    const AxisCommand pan{panDir == 1   ? -1
                          : panDir == 2 ? 1
                                        : 0,
                          std::min(1.0, panSpeed / static_cast<double>(0x18))};
    const AxisCommand tilt{tiltDir == 1   ? 1
                           : tiltDir == 2 ? -1
                                          : 0,
                           std::min(1.0, tiltSpeed / static_cast<double>(0x14))};
    command.pan = pan;
    command.tilt = tilt;
    std::string text;
    if (pan.direction == 0 && tilt.direction == 0) {
      text = "pan-tilt stop";
    } else {
      if (pan.direction != 0) text = pan.direction < 0 ? "pan left" : "pan right";
      if (tilt.direction != 0) {
        if (!text.empty()) text += " + ";
        text += tilt.direction > 0 ? "tilt up" : "tilt down";
      }
    }
    return text + ", pan speed " + HexByte(panSpeed) + ", tilt speed " + HexByte(tiltSpeed);
  }

  static std::string Zoom(std::uint8_t value, Command& command) {
    const int kind = value >> 4;
    const int speed = value & 0x0F;
    if (value == 0x00) {
      command.zoom = AxisCommand{0, 0.0};
      return "zoom stop";
    }
    if (value == 0x02 || value == 0x03) {
      command.zoom = AxisCommand{value == 0x02 ? 1 : -1, 0.5};
      return value == 0x02 ? "zoom in (tele), standard speed" : "zoom out (wide), standard speed";
    }
    if ((kind == 2 || kind == 3) && speed <= 7) {
      command.zoom = AxisCommand{kind == 2 ? 1 : -1, (speed + 1) / 8.0};
      return std::string(kind == 2 ? "zoom in (tele)" : "zoom out (wide)") + ", speed " +
             std::to_string(speed);
    }
    return "zoom with unknown value " + HexByte(value);
  }
};

}  // namespace

std::unique_ptr<Decoder> MakeViscaDecoder() { return std::make_unique<ViscaDecoder>(); }

}  // namespace sim

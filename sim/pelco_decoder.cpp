// Pelco-D (FF addr cmd1 cmd2 data1 data2 sum) and Pelco-P (A0 addr data1
// data2 data3 data4 AF xor). Both carry the whole motion state in every
// frame: a frame that names no zoom stops the zoom, one that names no pan
// stops the pan. Motion bits as the common Pelco documents give them:
// 0x02 right, 0x04 left, 0x08 up, 0x10 down, 0x20 zoom tele (in), 0x40 zoom
// wide (out); bit 0 set marks an extended command (presets and the like).
#include <algorithm>

#include "sim/protocol_decoders.h"

namespace sim {
namespace {

constexpr double kTopSpeed = 0x3F;  // 0x40 is "turbo", the top speed too

double SpeedShare(std::uint8_t speed) { return std::min<double>(speed, kTopSpeed) / kTopSpeed; }

// The standard motion bits and the two speeds; fills the command and says
// what the bits mean.
std::string Motion(std::uint8_t bits, std::uint8_t panSpeed, std::uint8_t tiltSpeed,
                   Command& command) {
  const bool right = bits & 0x02, left = bits & 0x04, up = bits & 0x08, down = bits & 0x10;
  const bool tele = bits & 0x20, wide = bits & 0x40;
  std::vector<std::string> parts;
  int pan = 0, tilt = 0, zoom = 0;
  if (left && right) {
    parts.push_back("pan left and right at once");
  } else if (left || right) {
    pan = left ? -1 : 1;
    parts.push_back(std::string(left ? "pan left" : "pan right") + ", speed " + HexByte(panSpeed));
  }
  if (up && down) {
    parts.push_back("tilt up and down at once");
  } else if (up || down) {
    tilt = up ? 1 : -1;
    parts.push_back(std::string(up ? "tilt up" : "tilt down") + ", speed " + HexByte(tiltSpeed));
  }
  if (tele && wide) {
    parts.push_back("zoom in and out at once");
  } else if (tele || wide) {
    zoom = tele ? 1 : -1;
    parts.push_back(tele ? "zoom in (tele)" : "zoom out (wide)");
  }
  command.pan = AxisCommand{pan, pan != 0 ? SpeedShare(panSpeed) : 0.0};
  command.tilt = AxisCommand{tilt, tilt != 0 ? SpeedShare(tiltSpeed) : 0.0};
  command.zoom = AxisCommand{zoom, zoom != 0 ? 0.5 : 0.0};
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) text += " + ";
    text += part;
  }
  return text;
}

std::string Extended(std::uint8_t code, std::uint8_t data1, std::uint8_t data2) {
  switch (code) {
    case 0x03: return "set preset " + std::to_string(data2);
    case 0x05: return "clear preset " + std::to_string(data2);
    case 0x07: return "go to preset " + std::to_string(data2);
    default:
      return "extended command " + HexByte(code) + ", data " + HexByte(data1) + " " +
             HexByte(data2);
  }
}

void Join(std::string& text, const std::string& part) {
  if (part.empty()) return;
  if (!text.empty()) text += " + ";
  text += part;
}

class PelcoDDecoder final : public Decoder {
 public:
  PelcoDDecoder() : Decoder(Protocol::kPelcoD) {}

 protected:
  bool IsStart(std::uint8_t byte) const override { return byte == 0xFF; }

  Candidate Delimit(std::span<const std::uint8_t> buffer, bool final) const override {
    if (buffer.size() >= 7) return Framed(7);
    return final ? Reject("truncated frame, " + std::to_string(buffer.size()) + " of 7 bytes")
                 : NeedMore();
  }

  Check Verify(std::span<const std::uint8_t> f) const override {
    const auto sum = static_cast<std::uint8_t>(f[1] + f[2] + f[3] + f[4] + f[5]);
    return Check::OfByte(sum, f[6]);
  }

  void Interpret(std::span<const std::uint8_t> f, Decoded& out) const override {
    const std::uint8_t cmd1 = f[2], cmd2 = f[3];
    out.command.address = f[1];
    std::string text;
    if (cmd2 & 0x01) {
      text = Extended(cmd2, f[4], f[5]);
    } else {
      const bool sense = cmd1 & 0x80;
      if (cmd1 & 0x08) Join(text, sense ? "camera on" : "camera off");
      if (cmd1 & 0x10) Join(text, sense ? "auto scan" : "manual scan");
      if (cmd1 & 0x04) Join(text, "iris close");
      if (cmd1 & 0x02) Join(text, "iris open");
      if (cmd1 & 0x01) Join(text, "focus near");
      if (cmd2 & 0x80) Join(text, "focus far");
      Join(text, Motion(cmd2, f[4], f[5], out.command));
      if (text.empty()) text = "stop";
    }
    out.meaning = text + ", address " + std::to_string(f[1]);
  }
};

class PelcoPDecoder final : public Decoder {
 public:
  PelcoPDecoder() : Decoder(Protocol::kPelcoP) {}

 protected:
  bool IsStart(std::uint8_t byte) const override { return byte == 0xA0; }

  Candidate Delimit(std::span<const std::uint8_t> buffer, bool final) const override {
    if (buffer.size() >= 8) {
      if (buffer[6] != 0xAF) return Reject("0xA0 start without the 0xAF end byte");
      return Framed(8);
    }
    return final ? Reject("truncated frame, " + std::to_string(buffer.size()) + " of 8 bytes")
                 : NeedMore();
  }

  Check Verify(std::span<const std::uint8_t> f) const override {
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < 7; ++i) x ^= f[i];
    return Check::OfByte(x, f[7]);
  }

  void Interpret(std::span<const std::uint8_t> f, Decoded& out) const override {
    const std::uint8_t data1 = f[2], data2 = f[3];
    out.command.address = f[1] + 1;
    std::string text;
    if (data2 & 0x01) {
      text = Extended(data2, f[4], f[5]);
    } else {
      if (data1 & 0x40) Join(text, "camera on/off");
      if (data1 & 0x20) Join(text, "auto scan");
      if (data1 & 0x10) Join(text, "camera on");
      if (data1 & 0x08) Join(text, "iris close");
      if (data1 & 0x04) Join(text, "iris open");
      if (data1 & 0x02) Join(text, "focus near");
      if (data1 & 0x01) Join(text, "focus far");
      Join(text, Motion(data2, f[4], f[5], out.command));
      if (text.empty()) text = "stop";
    }
    out.meaning = text + ", address " + std::to_string(f[1] + 1) + " (byte " + HexByte(f[1]) + ")";
  }
};

}  // namespace

std::unique_ptr<Decoder> MakePelcoDDecoder() { return std::make_unique<PelcoDDecoder>(); }
std::unique_ptr<Decoder> MakePelcoPDecoder() { return std::make_unique<PelcoPDecoder>(); }

}  // namespace sim

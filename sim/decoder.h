// Protocol decoders: turn a serial byte stream, in chunks of any size, into
// frames with their meaning and checksum verdict, and into reports of bytes
// that belong to no frame. One decoder per protocol; MakeDecoder picks it.
#ifndef VORNE_SIM_DECODER_H
#define VORNE_SIM_DECODER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/protocol.h"

namespace sim {

using Bytes = std::vector<std::uint8_t>;

// The checksum or check byte of one frame.
struct Check {
  enum class Verdict {
    kNone,  // the protocol carries no checksum
    kOk,
    kBad,
  };
  Verdict verdict = Verdict::kNone;
  std::string expected;  // as the protocol writes it: "0x29", "\"B8\""
  std::string actual;

  // "none", "ok" or "BAD (expected 0x29, got 0x28)".
  std::string Describe() const;

  // The verdict on a one-byte checksum.
  static Check OfByte(std::uint8_t expected, std::uint8_t actual);
};

// Directions: pan -1 left, +1 right; tilt +1 up, -1 down; zoom +1 in (tele),
// -1 out (wide); 0 stops the axis.
struct AxisCommand {
  int direction = 0;
  // Share of the protocol's top speed, 0 to 1. Protocols without a speed
  // field use 0.5.
  double speed = 0.0;
};

// What a frame tells the camera. An axis left empty is not touched by it.
struct Command {
  std::optional<AxisCommand> pan;
  std::optional<AxisCommand> tilt;
  std::optional<AxisCommand> zoom;
  // The camera the frame is addressed to, as its user numbers it (Pelco-P
  // byte 0x00 is camera 1). Empty when the protocol has no address.
  std::optional<int> address;
};

struct Decoded {
  enum class Kind {
    kFrame,    // a complete frame, its checksum possibly bad
    kGarbage,  // bytes that belong to no frame: noise, truncated or malformed frames
  };
  Kind kind = Kind::kFrame;
  Bytes bytes;
  // "pan left, speed 0x20, address 2", or why the bytes were rejected.
  std::string meaning;
  Check check;
  Command command;

  bool IsFrame() const { return kind == Kind::kFrame; }
  // A frame a camera would act on: complete and not failing its checksum.
  bool Accepted() const { return IsFrame() && check.verdict != Check::Verdict::kBad; }
};

class Decoder {
 public:
  virtual ~Decoder() = default;
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  Protocol protocol() const { return protocol_; }

  // Decodes what the bytes complete. A frame still incomplete at the end is
  // kept for the next call; stray bytes are reported at the end of each call.
  std::vector<Decoded> Feed(std::span<const std::uint8_t> bytes);
  // The line has gone quiet: decides whatever is held back (a truncated
  // frame becomes garbage, a frame waiting for an optional trailer is
  // reported as it stands).
  std::vector<Decoded> Flush();
  // Bytes are held back waiting for more.
  bool HasPending() const { return !buffer_.empty(); }

 protected:
  explicit Decoder(Protocol protocol) : protocol_(protocol) {}

  enum class Status { kNeedMore, kReject, kFrame };
  struct Candidate {
    Status status = Status::kNeedMore;
    std::size_t length = 0;  // kFrame: bytes the frame takes
    std::string reason;      // kReject: why the start byte leads nowhere
  };
  static Candidate NeedMore() { return {Status::kNeedMore, 0, {}}; }
  static Candidate Reject(std::string reason) { return {Status::kReject, 0, std::move(reason)}; }
  static Candidate Framed(std::size_t length) { return {Status::kFrame, length, {}}; }

  // Whether a frame may begin with this byte.
  virtual bool IsStart(std::uint8_t byte) const = 0;
  // Delimits the frame at the front of `buffer`, whose first byte is a start
  // byte. With `final` set no more bytes will come, so kNeedMore is not an
  // answer.
  virtual Candidate Delimit(std::span<const std::uint8_t> buffer, bool final) const = 0;
  virtual Check Verify(std::span<const std::uint8_t> frame) const = 0;
  // Fills meaning and command of a delimited frame.
  virtual void Interpret(std::span<const std::uint8_t> frame, Decoded& out) const = 0;

 private:
  enum class Step { kWait, kGarbage, kFrame };
  Step Next(bool final, std::size_t* length, std::string* reason) const;
  void Run(bool final, std::vector<Decoded>& out);
  void Drop(std::size_t count, const std::string& reason);
  void EmitGarbage(std::vector<Decoded>& out);

  Protocol protocol_;
  Bytes buffer_;
  Bytes garbage_;
  std::string garbageReason_;
};

std::unique_ptr<Decoder> MakeDecoder(Protocol protocol);

// "FF 01 00 04": uppercase, one space between bytes.
std::string Hex(std::span<const std::uint8_t> bytes);
// "0x2A".
std::string HexByte(std::uint8_t byte);
// Reads "FF 01 00 04", "ff010004" or "0xFF,0x01": pairs of hex digits, any
// separators of space, comma, colon or "0x". Empty on anything else.
std::optional<Bytes> ParseHex(std::string_view text);

}  // namespace sim

#endif

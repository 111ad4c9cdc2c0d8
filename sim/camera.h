// Simulated cameras: decode what arrives, keep the motion state the frames
// ask for (positions integrated over time from a clock), and, for TAC,
// answer each request the way the chosen reply mode says.
#ifndef VORNE_SIM_CAMERA_H
#define VORNE_SIM_CAMERA_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/clock.h"
#include "sim/decoder.h"
#include "sim/protocol.h"

namespace sim {

// Full speed of each axis; a frame's speed share scales these.
inline constexpr double kPanDegreesPerSecond = 90.0;
inline constexpr double kTiltDegreesPerSecond = 60.0;
inline constexpr double kZoomStepsPerSecond = 10.0;  // magnification per second
inline constexpr double kTiltLimit = 90.0;           // degrees either way
inline constexpr double kZoomMin = 1.0;
inline constexpr double kZoomMax = 20.0;

struct AxisState {
  double position = 0.0;
  int direction = 0;   // as in AxisCommand
  double speed = 0.0;  // share of the top speed
  bool Moving() const { return direction != 0; }
};

struct CameraState {
  AxisState pan;        // degrees, wraps within [-180, 180)
  AxisState tilt;       // degrees, held within [-90, 90]
  AxisState zoom{1.0};  // magnification, held within [1, 20]
  std::optional<int> lastAddress;
  std::uint64_t frames = 0;      // complete frames, acted on or not
  std::uint64_t badFrames = 0;   // failed their checksum
  std::uint64_t ignored = 0;     // addressed to another camera
  std::uint64_t strayBytes = 0;  // outside any frame

  bool Moving() const { return pan.Moving() || tilt.Moving() || zoom.Moving(); }
  // "pan -12.5 (left), tilt 0.0, zoom 1.00x, address 2".
  std::string Describe() const;
};

// How the TAC camera answers a request.
enum class ReplyMode {
  kRight,          // 11 bytes, checksum right
  kWrongChecksum,  // 11 bytes, checksum off by one
  kShort,          // the first 6 bytes only
  kSilent,         // nothing
  kDelayed,        // the right reply, after the reply delay
};
std::string_view ReplyModeName(ReplyMode mode);  // "right", "wrong-checksum", ...
std::optional<ReplyMode> ParseReplyMode(std::string_view name);
std::string ReplyModeChoices();  // "right, wrong-checksum, short, silent, delayed"

inline constexpr Duration kDefaultReplyDelay = std::chrono::milliseconds(300);

struct Reply {
  Bytes bytes;
  Duration delay{};
  ReplyMode mode = ReplyMode::kRight;
};

// One line of what happened on the line.
struct Event {
  enum class Kind {
    kFrame,    // a frame arrived
    kGarbage,  // bytes outside any frame arrived
    kReply,    // the camera wrote a reply
    kNotice,   // something about the line itself (opened, lost, reply dropped)
  };
  Kind kind = Kind::kFrame;
  std::chrono::system_clock::time_point wallTime;
  Bytes bytes;
  std::string meaning;
  Check check;                 // kFrame
  Command command;             // kFrame
  bool applied = false;        // kFrame: the camera acted on it
  std::string note;            // kFrame: why not, when it did not
  CameraState state;           // after the event
  std::optional<Reply> reply;  // kFrame: the answer to send, if any
};

// "2026-12-10 12:00:01.234Z rx FF 01 00 04 20 00 25 | pan left, speed 0x20, address 1 |
// checksum ok | pan 0.0 (left), tilt 0.0, zoom 1.00x, address 1", one line.
std::string FormatEvent(const Event& event);

class Camera {
 public:
  explicit Camera(Protocol protocol, std::shared_ptr<const Clock> clock = DefaultClock());

  Protocol protocol() const { return protocol_; }

  // Bytes as they came off the line, in chunks of any size.
  std::vector<Event> Feed(std::span<const std::uint8_t> bytes);
  // The line went quiet: decide what the decoder holds back.
  std::vector<Event> Flush();
  bool HasPending() const { return decoder_->HasPending(); }

  // The state now, positions moved on to the clock's present.
  CameraState State() const;

  // Act only on frames for this address (frames without an address always
  // count). Unset: act on every frame.
  void SetAddress(std::optional<int> address) { address_ = address; }
  // TAC only; the other cameras never answer.
  void SetReplyMode(ReplyMode mode) { replyMode_ = mode; }
  ReplyMode replyMode() const { return replyMode_; }
  void SetReplyDelay(Duration delay) { replyDelay_ = delay; }

  // `state` moved on by `elapsed` of motion.
  static CameraState Advance(CameraState state, Duration elapsed);

 private:
  std::vector<Event> Handle(std::vector<Decoded> decoded);
  void CatchUp();
  std::optional<Reply> ReplyTo(const Decoded& frame) const;

  Protocol protocol_;
  std::shared_ptr<const Clock> clock_;
  std::unique_ptr<Decoder> decoder_;
  CameraState state_;
  TimePoint stateTime_;
  std::optional<int> address_;
  ReplyMode replyMode_ = ReplyMode::kRight;
  Duration replyDelay_ = kDefaultReplyDelay;
};

}  // namespace sim

#endif

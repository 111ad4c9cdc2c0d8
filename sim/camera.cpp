#include "sim/camera.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "sim/tac.h"

namespace sim {
namespace {

constexpr struct {
  ReplyMode mode;
  std::string_view name;
} kReplyModes[] = {
    {ReplyMode::kRight, "right"},     {ReplyMode::kWrongChecksum, "wrong-checksum"},
    {ReplyMode::kShort, "short"},     {ReplyMode::kSilent, "silent"},
    {ReplyMode::kDelayed, "delayed"},
};

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  // "-0.0" reads as a motion that did not happen.
  if (std::string_view(text).find_first_not_of("-0.") == std::string_view::npos && text[0] == '-') {
    return text + 1;
  }
  return text;
}

const char* Direction(int direction, const char* negative, const char* positive) {
  return direction < 0 ? negative : positive;
}

double WrapPan(double degrees) {
  double wrapped = std::fmod(degrees + 180.0, 360.0);
  if (wrapped < 0) wrapped += 360.0;
  return wrapped - 180.0;
}

std::string WallClock(std::chrono::system_clock::time_point time) {
  // The module's wire trace uses the same stamp, so that lines of both can
  // be laid side by side whatever the local time zone.
  using namespace std::chrono;
  const auto now = time_point_cast<milliseconds>(time);
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss clock{now - day};
  char text[40];
  std::snprintf(
      text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
      static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
  return text;
}

}  // namespace

std::string_view ReplyModeName(ReplyMode mode) {
  for (const auto& m : kReplyModes) {
    if (m.mode == mode) return m.name;
  }
  return "right";
}

std::optional<ReplyMode> ParseReplyMode(std::string_view name) {
  for (const auto& m : kReplyModes) {
    if (m.name == name) return m.mode;
  }
  return std::nullopt;
}

std::string ReplyModeChoices() {
  std::string text;
  for (const auto& m : kReplyModes) {
    if (!text.empty()) text += ", ";
    text += m.name;
  }
  return text;
}

std::string CameraState::Describe() const {
  std::string text = "pan " + Fixed(pan.position, 1);
  if (pan.Moving()) text += std::string(" (") + Direction(pan.direction, "left", "right") + ")";
  text += ", tilt " + Fixed(tilt.position, 1);
  if (tilt.Moving()) text += std::string(" (") + Direction(tilt.direction, "down", "up") + ")";
  text += ", zoom " + Fixed(zoom.position, 2) + "x";
  if (zoom.Moving()) text += std::string(" (") + Direction(zoom.direction, "out", "in") + ")";
  if (lastAddress) text += ", address " + std::to_string(*lastAddress);
  return text;
}

std::string FormatEvent(const Event& event) {
  static constexpr const char* kTags[] = {"rx", "??", "tx", "--"};
  std::string line = WallClock(event.wallTime);
  line += ' ';
  line += kTags[static_cast<int>(event.kind)];
  if (!event.bytes.empty()) {
    line += ' ';
    line += Hex(event.bytes);
  }
  line += " | ";
  line += event.meaning;
  if (event.kind == Event::Kind::kFrame) {
    line += " | checksum " + event.check.Describe();
    if (!event.applied) line += " | ignored: " + event.note;
    line += " | " + event.state.Describe();
  }
  return line;
}

Camera::Camera(Protocol protocol, std::shared_ptr<const Clock> clock)
    : protocol_(protocol),
      clock_(clock ? std::move(clock) : DefaultClock()),
      decoder_(MakeDecoder(protocol)),
      stateTime_(clock_->Now()) {}

CameraState Camera::Advance(CameraState state, Duration elapsed) {
  const double seconds = std::chrono::duration<double>(elapsed).count();
  if (seconds <= 0) return state;
  auto step = [&](const AxisState& axis, double topSpeed) {
    return axis.direction * axis.speed * topSpeed * seconds;
  };
  state.pan.position = WrapPan(state.pan.position + step(state.pan, kPanDegreesPerSecond));
  state.tilt.position = std::clamp(state.tilt.position + step(state.tilt, kTiltDegreesPerSecond),
                                   -kTiltLimit, kTiltLimit);
  state.zoom.position =
      std::clamp(state.zoom.position + step(state.zoom, kZoomStepsPerSecond), kZoomMin, kZoomMax);
  return state;
}

CameraState Camera::State() const { return Advance(state_, clock_->Now() - stateTime_); }

void Camera::CatchUp() {
  const TimePoint now = clock_->Now();
  state_ = Advance(state_, now - stateTime_);
  stateTime_ = now;
}

std::vector<Event> Camera::Feed(std::span<const std::uint8_t> bytes) {
  return Handle(decoder_->Feed(bytes));
}

std::vector<Event> Camera::Flush() { return Handle(decoder_->Flush()); }

std::vector<Event> Camera::Handle(std::vector<Decoded> decoded) {
  std::vector<Event> events;
  if (decoded.empty()) return events;
  CatchUp();
  for (Decoded& d : decoded) {
    Event event;
    event.wallTime = std::chrono::system_clock::now();
    if (!d.IsFrame()) {
      state_.strayBytes += d.bytes.size();
      event.kind = Event::Kind::kGarbage;
    } else {
      event.kind = Event::Kind::kFrame;
      ++state_.frames;
      if (!d.Accepted()) {
        ++state_.badFrames;
        event.note = "bad checksum";
      } else if (address_ && d.command.address && *d.command.address != *address_) {
        ++state_.ignored;
        event.note = "addressed to " + std::to_string(*d.command.address) + ", this camera is " +
                     std::to_string(*address_);
      } else {
        event.applied = true;
        if (d.command.address) state_.lastAddress = d.command.address;
        auto apply = [](AxisState& axis, const std::optional<AxisCommand>& command) {
          if (!command) return;
          axis.direction = command->direction;
          axis.speed = command->speed;
        };
        apply(state_.pan, d.command.pan);
        apply(state_.tilt, d.command.tilt);
        apply(state_.zoom, d.command.zoom);
        event.reply = ReplyTo(d);
      }
    }
    event.bytes = std::move(d.bytes);
    event.meaning = std::move(d.meaning);
    event.check = std::move(d.check);
    event.command = d.command;
    event.state = state_;
    events.push_back(std::move(event));
  }
  return events;
}

std::optional<Reply> Camera::ReplyTo(const Decoded& frame) const {
  if (protocol_ != Protocol::kTac || replyMode_ == ReplyMode::kSilent) return std::nullopt;
  // The answer repeats the request with its own checksum: the module judges
  // a reply by its length and checksum alone.
  std::array<std::uint8_t, kTacMessageSize> message{};
  std::copy_n(frame.bytes.begin(), kTacMessageSize, message.begin());
  StampTacChecksum(message);
  Reply reply;
  reply.mode = replyMode_;
  switch (replyMode_) {
    case ReplyMode::kWrongChecksum: {
      const auto wrong = TacChecksumChars(static_cast<std::uint8_t>(TacSum(message) + 1));
      message[9] = wrong[0];
      message[10] = wrong[1];
      reply.bytes.assign(message.begin(), message.end());
      break;
    }
    case ReplyMode::kShort: reply.bytes.assign(message.begin(), message.begin() + 6); break;
    case ReplyMode::kDelayed:
      reply.bytes.assign(message.begin(), message.end());
      reply.delay = replyDelay_;
      break;
    default: reply.bytes.assign(message.begin(), message.end()); break;
  }
  return reply;
}

}  // namespace sim

#include "protocols/tac.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/wire_trace.h"

namespace vorne {

namespace {

constexpr std::uint8_t kStartMark = '*';
constexpr std::size_t kSumLength = 9;  // positions 0 to 8
constexpr std::size_t kHighDigit = 9;
constexpr std::size_t kLowDigit = 10;
constexpr std::uint32_t kPollMs = 2;

// Direction codes travel as raw byte values, not as digit characters.
constexpr std::uint8_t kTiltUp = 0x01;
constexpr std::uint8_t kTiltDown = 0x02;
constexpr std::uint8_t kPanLeft = 0x03;
constexpr std::uint8_t kPanRight = 0x04;

// Where a pan or a tilt puts its "2" and raw 0x00.
constexpr std::size_t kPanArgument = 7;
constexpr std::size_t kTiltArgument = 5;

}  // namespace

TacController::TacController() {
  std::memset(frame, 0, sizeof(frame));
  std::memset(reply, 0, sizeof(reply));
  zoomMoving = 0;
}

TacController::~TacController() { Stop(); }

int TacController::PanLeft() { return Drive(kPanLeft, kPanArgument); }
int TacController::PanRight() { return Drive(kPanRight, kPanArgument); }
int TacController::TiltUp() { return Drive(kTiltUp, kTiltArgument); }
int TacController::TiltDown() { return Drive(kTiltDown, kTiltArgument); }

int TacController::ZoomIn() { return Zoom('2'); }
int TacController::ZoomOut() { return Zoom('4'); }

int TacController::Zoom(char argument) {
  if (zoomMoving != 0) return 1;
  // Set before the exchange: a zoom the camera did not confirm may still be
  // running, and only Stop ends it.
  zoomMoving = 1;
  const int result = Lens(argument);
  // The message may have reached the camera once the port was open.
  zoomMayRun_ = exchangeOpened_;
  return result;
}

void TacController::Stop() {
  Lens('9');
  // The engine's stop rule: a zoom that may be running stays marked while
  // its stop could not be sent; a missing or wrong answer counts as sent.
  AfterStop(zoomMoving, zoomMayRun_, exchangeSent_);
}

void TacController::ResetFrame() {
  std::memset(frame, '0', sizeof(frame));
  frame[0] = kStartMark;
  receivedCount = 0;
}

std::uint8_t TacController::FrameSum(const std::uint8_t* message) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < kSumLength; ++i) sum += message[i];
  return static_cast<std::uint8_t>(sum);
}

std::uint8_t TacController::HexDigit(unsigned value) {
  value &= 0x0F;
  return static_cast<std::uint8_t>(value < 10 ? '0' + value : 'A' + (value - 10));
}

void TacController::StampChecksum() {
  const std::uint8_t sum = FrameSum(frame);
  frame[kHighDigit] = HexDigit(sum >> 4);
  frame[kLowDigit] = HexDigit(sum & 0x0F);
}

bool TacController::VerifyReply() const {
  const std::uint8_t sum = FrameSum(reply);
  return reply[kHighDigit] == HexDigit(sum >> 4) && reply[kLowDigit] == HexDigit(sum & 0x0F);
}

int TacController::Exchange() {
  exchangeOpened_ = false;
  exchangeSent_ = false;
  // A port that did not open needs no closing.
  if (OpenPort() == 0) return 0;
  exchangeOpened_ = true;
  StampChecksum();
  if (WriteRaw(frame, sizeof(frame)) == 0) {
    ClosePort();
    return 0;
  }
  int result = 0;
  try {
    result = AwaitReply();
  } catch (...) {
    // The control failed while reading: judged like a missing answer.
    result = 0;
  }
  ClosePort();
  // The message went out unless the close raised: the control could not
  // confirm delivery.
  exchangeSent_ = !closeFailed_;
  return result;
}

int TacController::AwaitReply() {
  Sleep(kPollMs);
  const std::uint32_t start = GetTickCount();
  receivedCount = comm.GetReceivedCount();
  // Unsigned throughout: the difference stays right across the tick's wrap,
  // and a count beyond the 16-bit range reads as plenty.
  while (static_cast<std::uint32_t>(receivedCount) < kMessageLength) {
    if (GetTickCount() - start >= kReplyWaitMs) break;
    receivedCount = comm.GetReceivedCount();
    Sleep(kPollMs);
  }

  std::memset(reply, 0, sizeof(reply));
  if (receivedCount == 0) {
    TraceNote(port, "no reply in 200 ms");
    return 0;
  }

  VARIANT received = comm.GetReceivedData();
  // The count was read before the data and the control may hand over fewer
  // bytes than it counted: copy no more than both allow.
  const std::size_t counted = static_cast<std::uint32_t>(receivedCount);
  const std::size_t held = received.vt == (VT_ARRAY | VT_UI1) ? received.bytes.size() : 0;
  const std::size_t copied = std::min({counted, held, kMessageLength});
  if (copied != 0) std::memcpy(reply, received.bytes.data(), copied);
  VariantClear(&received);

  // An overlong answer is taken as given, unchecked.
  if (counted > kMessageLength) return 1;
  char verdict[64];
  if (copied < kMessageLength) {
    std::snprintf(verdict, sizeof(verdict), "short reply (%zu of %zu bytes)", copied,
                  kMessageLength);
    TraceNote(port, verdict);
  }
  if (VerifyReply()) return 1;
  if (copied == kMessageLength) {
    const std::uint8_t sum = FrameSum(reply);
    const auto shown = [](std::uint8_t c) { return c >= 0x20 && c < 0x7F ? c : '?'; };
    std::snprintf(verdict, sizeof(verdict), "reply checksum wrong (expected %c%c, got %c%c)",
                  HexDigit(sum >> 4), HexDigit(sum & 0x0F), shown(reply[kHighDigit]),
                  shown(reply[kLowDigit]));
    TraceNote(port, verdict);
  }
  return 0;
}

int TacController::Drive(std::uint8_t direction, std::size_t argumentAt) {
  ResetFrame();
  frame[3] = '6';
  frame[4] = direction;
  frame[argumentAt] = '2';
  frame[argumentAt + 1] = 0x00;
  return Exchange();
}

int TacController::Lens(char argument) {
  ResetFrame();
  frame[3] = '7';
  frame[4] = '5';
  frame[5] = '0';
  frame[6] = static_cast<std::uint8_t>(argument);
  return Exchange();
}

}  // namespace vorne

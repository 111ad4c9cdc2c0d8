// Type 3, "TAC": 11-byte ASCII messages with a hexadecimal checksum, each
// answered by the camera. A command succeeds only when an answer with a
// right checksum (or an overlong one) comes within the reply wait.
#ifndef VORNE_PROTOCOLS_TAC_H
#define VORNE_PROTOCOLS_TAC_H

#include <cstddef>
#include <cstdint>

#include "serial/serial_ptz_controller.h"

namespace vorne {

// Message layout: "*", "00", six body bytes, two uppercase hex digits of
// the 8-bit sum of the nine bytes before them.
class TacController : public SerialPtzController {
 public:
  static constexpr std::size_t kMessageLength = 11;
  // How long an exchange waits for the answer, counted from 2 ms after the
  // message went out.
  static constexpr std::uint32_t kReplyWaitMs = 200;

  TacController();
  // Sends the stop message, so a camera is never left moving.
  ~TacController() override;

  int PanLeft() override;
  int PanRight() override;
  int TiltUp() override;
  int TiltDown() override;
  // One zoom until Stop: a zoom while zooming sends nothing and gives 1.
  int ZoomIn() override;
  int ZoomOut() override;
  // Sends the stop message every time and ends the zoom, except that a zoom
  // whose exchange got the port open stays marked while the stop could not
  // be sent (the port did not open, the put failed or the close raised), so
  // the next Stop ends it.
  void Stop() override;

  // "*" followed by ten "0" characters; forgets the last received count.
  void ResetFrame();
  // The 8-bit sum of positions 0 to 8 of an 11-byte message.
  static std::uint8_t FrameSum(const std::uint8_t* message);
  // 0..9 give "0".."9", 10..15 give "A".."F" (uppercase only).
  static std::uint8_t HexDigit(unsigned value);
  // Writes the checksum digits of `frame` into its positions 9 and 10.
  void StampChecksum();
  // True when the checksum digits of `reply` match its positions 0 to 8
  // exactly (a lowercase digit does not match).
  bool VerifyReply() const;
  // Sends `frame` on a freshly opened port and judges the answer. 1 for a
  // right answer, 0 for none, a short or wrong one, or a port failure.
  int Exchange();

  std::uint8_t frame[kMessageLength];
  std::uint8_t reply[kMessageLength];
  // Bytes waiting, as last read from the control.
  std::int32_t receivedCount = 0;

 private:
  // How the last Exchange went, for the stop rule: whether it got the port
  // open, and whether its message was sent (put, and the close raised
  // nothing), whatever the answer.
  bool exchangeOpened_ = false;
  bool exchangeSent_ = false;

  // The zoom rule, then the zoom message with `argument`.
  int Zoom(char argument);
  // A pan or tilt: "6", a raw direction code, then "2" and a raw 0x00 at
  // `argumentAt`.
  int Drive(std::uint8_t direction, std::size_t argumentAt);
  // A zoom or the stop: "75" and a two-character argument.
  int Lens(char argument);
  // Waits for the answer and judges it; the port is open and stays so.
  int AwaitReply();
};

}  // namespace vorne

#endif

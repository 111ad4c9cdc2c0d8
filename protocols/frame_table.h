// Stored frames written as data: one row per frame slot, bytes as they go on
// the wire, so each driver's table reads like the protocol's own.
#ifndef VORNE_PROTOCOLS_FRAME_TABLE_H
#define VORNE_PROTOCOLS_FRAME_TABLE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "serial/serial_ptz_controller.h"

namespace vorne {

namespace vorne::frames {

using Slot = CommandFrame SerialPtzController::*;

// All eight slots, in declaration order.
inline constexpr std::array<Slot, 8> kAllSlots = {
    &SerialPtzController::tiltUpFrame,      &SerialPtzController::tiltDownFrame,
    &SerialPtzController::panLeftFrame,     &SerialPtzController::panRightFrame,
    &SerialPtzController::zoomOutFrame,     &SerialPtzController::zoomInFrame,
    &SerialPtzController::panTiltStopFrame, &SerialPtzController::zoomStopFrame,
};

// A frame of exactly the bytes listed; its length is their count.
template <std::size_t N>
constexpr CommandFrame Bytes(const std::uint8_t (&bytes)[N]) {
  static_assert(N > 0 && N <= sizeof(CommandFrame::data), "a frame holds 1 to 16 bytes");
  CommandFrame frame{};
  for (std::size_t i = 0; i < N; ++i) frame.data[i] = bytes[i];
  frame.length = static_cast<std::int32_t>(N);
  return frame;
}

struct Row {
  Slot slot;
  CommandFrame frame;
};

// Fills the slots a table names; the others keep their (empty) state.
inline void Load(SerialPtzController& controller, std::span<const Row> rows) {
  for (const Row& row : rows) controller.*(row.slot) = row.frame;
}

// True when the table fills each of the eight slots exactly once.
constexpr bool FillsEverySlotOnce(std::span<const Row> rows) {
  if (rows.size() != kAllSlots.size()) return false;
  for (Slot slot : kAllSlots) {
    int seen = 0;
    for (const Row& row : rows) seen += row.slot == slot ? 1 : 0;
    if (seen != 1) return false;
  }
  return true;
}

}  // namespace vorne::frames

}  // namespace vorne

#endif

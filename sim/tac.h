// The TAC message: 11 bytes, "*" at position 0, a body that may hold raw
// bytes, and at positions 9-10 the 8-bit sum of positions 0-8 as two
// uppercase hexadecimal characters.
#ifndef VORNE_SIM_TAC_H
#define VORNE_SIM_TAC_H

#include <array>
#include <cstdint>
#include <span>

namespace sim {

inline constexpr std::size_t kTacMessageSize = 11;
inline constexpr std::uint8_t kTacStart = '*';

// The 8-bit sum of positions 0-8 (fewer when the message is shorter).
std::uint8_t TacSum(std::span<const std::uint8_t> message);
// The two characters positions 9-10 must hold for this sum.
std::array<std::uint8_t, 2> TacChecksumChars(std::uint8_t sum);
// Writes the checksum characters of positions 0-8 into positions 9-10.
void StampTacChecksum(std::span<std::uint8_t, kTacMessageSize> message);

}  // namespace sim

#endif

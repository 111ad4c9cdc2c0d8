// Text from outside the module (device names from the environment, the
// system's reasons, a device server's data) made fit for one line of a
// trace or an error text: it can neither start a line of its own nor send
// a terminal control sequences, and a huge text cannot swamp the line.
//
//   a control character (00-1F, 7F, and the C1 controls U+0080-U+009F)
//   and every byte that is not part of valid UTF-8   ->  \xNN (hex, capitals)
//   a backslash before an x                           ->  \x5C (so an escape is
//                                                         never ambiguous)
//   everything else, valid UTF-8 included             ->  as it is
//
// A text longer than `limit` bytes keeps its first `limit` bytes (cut before
// a character that would straddle the limit) and then says how long it was:
// "...\u2026(100000 bytes)".
#ifndef VORNE_PLATFORM_SAFE_TEXT_H
#define VORNE_PLATFORM_SAFE_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace vorne {

inline constexpr std::size_t kSafeTextLimit = 200;

// Appends `text` made safe to `out`; allocates nothing once `out` has room.
void AppendSafeText(std::string& out, std::string_view text, std::size_t limit = kSafeTextLimit);

// Appends `value` in decimal, allocating nothing once `out` has room.
void AppendNumber(std::string& out, std::size_t value);

inline std::string SafeText(std::string_view text, std::size_t limit = kSafeTextLimit) {
  std::string out;
  AppendSafeText(out, text, limit);
  return out;
}

}  // namespace vorne

#endif

#include "platform/safe_text.h"

namespace vorne {

namespace {

unsigned char ByteAt(std::string_view text, std::size_t at) {
  return static_cast<unsigned char>(text[at]);
}

// The length of the well-formed UTF-8 sequence that starts at `at`, or 0
// when the byte there starts none (a stray continuation byte, an overlong
// form, a surrogate, beyond U+10FFFF, or cut short).
std::size_t Utf8Length(std::string_view text, std::size_t at) {
  const unsigned char lead = ByteAt(text, at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;  // the range of the second byte
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  const unsigned char second = ByteAt(text, at + 1);
  if (second < low || second > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((ByteAt(text, at + i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

void AppendEscaped(std::string& out, unsigned char byte) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const char escaped[] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0x0F]};
  out.append(escaped, sizeof(escaped));
}

}  // namespace

void AppendNumber(std::string& out, std::size_t value) {
  char digits[24];
  std::size_t at = sizeof(digits);
  do {
    digits[--at] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  out.append(digits + at, sizeof(digits) - at);
}

void AppendSafeText(std::string& out, std::string_view text, std::size_t limit) {
  const bool cut = text.size() > limit;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t length = Utf8Length(text, at);
    const std::size_t taken = length == 0 ? 1 : length;
    if (cut && at + taken > limit) break;
    const unsigned char lead = ByteAt(text, at);
    if (length == 0) {
      AppendEscaped(out, lead);
    } else if (length == 1) {
      // A backslash is escaped only where it would read as an escape:
      // Windows names keep theirs.
      const bool escapeLike = lead == '\\' && at + 1 < text.size() && text[at + 1] == 'x';
      if (lead < 0x20 || lead == 0x7F || escapeLike) {
        AppendEscaped(out, lead);
      } else {
        out += static_cast<char>(lead);
      }
    } else if (lead == 0xC2 && ByteAt(text, at + 1) <= 0x9F) {
      // A C1 control: some terminals act on it as on ESC [ and the like.
      AppendEscaped(out, lead);
      AppendEscaped(out, ByteAt(text, at + 1));
    } else {
      out.append(text.data() + at, length);
    }
    at += taken;
  }
  if (cut) {
    out += "\xE2\x80\xA6(";  // U+2026, the ellipsis
    AppendNumber(out, text.size());
    out += " bytes)";
  }
}

}  // namespace vorne

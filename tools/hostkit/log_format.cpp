#include "hostkit/log_format.h"

#include <cstdint>

namespace hostkit {

namespace {

void AppendCodePoint(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendCodePoint(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      AppendCodePoint(out, 0xFFFD);
    } else {
      AppendCodePoint(out, c);
    }
  }
  return out;
}

std::string FormatLogLine(const char16_t* format, va_list args) {
  if (format == nullptr) return {};
  std::u16string text;
  for (const char16_t* p = format; *p != u'\0'; ++p) {
    if (*p == u'%' && p[1] == u'd') {
      const std::int32_t value = va_arg(args, std::int32_t);
      for (char c : std::to_string(value)) text += static_cast<char16_t>(c);
      ++p;
    } else if (*p == u'%' && p[1] == u'%') {
      text += u'%';
      ++p;
    } else {
      text += *p;
    }
  }
  return ToUtf8(text);
}

}  // namespace hostkit

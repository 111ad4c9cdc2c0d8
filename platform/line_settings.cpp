#include <array>
#include <charconv>
#include <string>

#include "platform/serial_port.h"

namespace vorne {

namespace {

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

// A decimal number of plain digits, no sign.
std::optional<std::int32_t> Number(std::u16string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::int32_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + static_cast<std::int32_t>(c - u'0');
  }
  return value;
}

}  // namespace

std::optional<LineSettings> ParseLineSettings(std::u16string_view text) {
  std::array<std::u16string_view, 4> fields;
  std::size_t count = 0;
  for (;;) {
    const std::size_t comma = text.find(u',');
    if (count == fields.size()) return std::nullopt;
    fields[count++] = Trim(text.substr(0, comma));
    if (comma == std::u16string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (count != fields.size()) return std::nullopt;

  LineSettings settings;
  const std::optional<std::int32_t> baud = Number(fields[0]);
  if (!baud || *baud <= 0 || !SerialPort::SupportsRate(*baud)) return std::nullopt;
  settings.baud = *baud;

  if (fields[1].size() != 1) return std::nullopt;
  const char16_t parity = fields[1][0] | 0x20;  // lower case
  if (parity != u'n' && parity != u'e' && parity != u'o' && parity != u'm' && parity != u's') {
    return std::nullopt;
  }
  settings.parity = static_cast<char>(parity);

  const std::optional<std::int32_t> dataBits = Number(fields[2]);
  if (!dataBits || *dataBits < 5 || *dataBits > 8) return std::nullopt;
  settings.dataBits = *dataBits;

  const std::optional<std::int32_t> stopBits = Number(fields[3]);
  if (!stopBits || (*stopBits != 1 && *stopBits != 2)) return std::nullopt;
  settings.stopBits = *stopBits;
  return settings;
}

std::int64_t LineMilliseconds(std::size_t count, std::int32_t baud) {
  const std::int64_t bits = static_cast<std::int64_t>(count) * 12;
  const std::int64_t rate = baud > 0 ? baud : 9600;
  return (bits * 1000 + rate - 1) / rate;
}

std::string FormatLineSettings(const LineSettings& settings) {
  return std::to_string(settings.baud) + ',' + settings.parity + ',' +
         std::to_string(settings.dataBits) + ',' + std::to_string(settings.stopBits);
}

}  // namespace vorne

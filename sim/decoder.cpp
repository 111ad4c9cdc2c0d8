#include "sim/decoder.h"

#include <cctype>

#include "sim/protocol_decoders.h"

namespace sim {

Check Check::OfByte(std::uint8_t expected, std::uint8_t actual) {
  Check check;
  check.verdict = expected == actual ? Verdict::kOk : Verdict::kBad;
  check.expected = HexByte(expected);
  check.actual = HexByte(actual);
  return check;
}

std::string Check::Describe() const {
  switch (verdict) {
    case Verdict::kNone: return "none";
    case Verdict::kOk: return "ok";
    case Verdict::kBad: return "BAD (expected " + expected + ", got " + actual + ")";
  }
  return "none";
}

std::vector<Decoded> Decoder::Feed(std::span<const std::uint8_t> bytes) {
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  std::vector<Decoded> out;
  Run(false, out);
  EmitGarbage(out);
  return out;
}

std::vector<Decoded> Decoder::Flush() {
  std::vector<Decoded> out;
  Run(true, out);
  EmitGarbage(out);
  return out;
}

Decoder::Step Decoder::Next(bool final, std::size_t* length, std::string* reason) const {
  const std::span<const std::uint8_t> buffer(buffer_);
  if (!IsStart(buffer[0])) {
    std::size_t run = 1;
    while (run < buffer.size() && !IsStart(buffer[run])) ++run;
    *length = run;
    return Step::kGarbage;
  }
  const Candidate candidate = Delimit(buffer, final);
  if (candidate.status == Status::kNeedMore) return Step::kWait;
  if (candidate.status == Status::kReject) {
    *length = 1;
    *reason = candidate.reason;
    return Step::kGarbage;
  }
  if (Verify(buffer.first(candidate.length)).verdict == Check::Verdict::kBad) {
    // A start byte inside a frame that fails its check may be where the real
    // frame begins, with noise before it. Prefer that reading when the frame
    // found there checks out, so noise cannot swallow a good frame.
    for (std::size_t k = 1; k < candidate.length; ++k) {
      if (!IsStart(buffer[k])) continue;
      const Candidate inner = Delimit(buffer.subspan(k), final);
      if (inner.status == Status::kNeedMore) return Step::kWait;
      if (inner.status == Status::kFrame &&
          Verify(buffer.subspan(k, inner.length)).verdict != Check::Verdict::kBad) {
        *length = k;
        *reason = "truncated frame, " + std::to_string(k) + " bytes before the next frame";
        return Step::kGarbage;
      }
    }
  }
  *length = candidate.length;
  return Step::kFrame;
}

void Decoder::Run(bool final, std::vector<Decoded>& out) {
  while (!buffer_.empty()) {
    std::size_t length = 0;
    std::string reason;
    const Step step = Next(final, &length, &reason);
    if (step == Step::kWait) break;
    if (step == Step::kGarbage) {
      Drop(length, reason);
      continue;
    }
    EmitGarbage(out);
    Decoded frame;
    frame.kind = Decoded::Kind::kFrame;
    frame.bytes.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length));
    frame.check = Verify(frame.bytes);
    Interpret(frame.bytes, frame);
    out.push_back(std::move(frame));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length));
  }
}

void Decoder::Drop(std::size_t count, const std::string& reason) {
  if (garbageReason_.empty()) garbageReason_ = reason;
  garbage_.insert(garbage_.end(), buffer_.begin(),
                  buffer_.begin() + static_cast<std::ptrdiff_t>(count));
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count));
}

void Decoder::EmitGarbage(std::vector<Decoded>& out) {
  if (garbage_.empty()) return;
  Decoded garbage;
  garbage.kind = Decoded::Kind::kGarbage;
  garbage.meaning = std::to_string(garbage_.size()) + (garbage_.size() == 1 ? " byte" : " bytes") +
                    " outside any frame";
  if (!garbageReason_.empty()) garbage.meaning += " (" + garbageReason_ + ")";
  garbage.bytes = std::move(garbage_);
  garbage_.clear();
  garbageReason_.clear();
  out.push_back(std::move(garbage));
}

std::unique_ptr<Decoder> MakeDecoder(Protocol protocol) {
  switch (protocol) {
    case Protocol::kVisca: return MakeViscaDecoder();
    case Protocol::kPelcoD: return MakePelcoDDecoder();
    case Protocol::kPelcoP: return MakePelcoPDecoder();
    case Protocol::kVideotrec: return MakeVideotrecDecoder();
    case Protocol::kCanon: return MakeCanonDecoder();
    case Protocol::kTac: return MakeTacDecoder();
  }
  return MakeViscaDecoder();
}

std::string HexByte(std::uint8_t byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {'0', 'x', kDigits[byte >> 4], kDigits[byte & 0x0F]};
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (const std::uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

std::optional<Bytes> ParseHex(std::string_view text) {
  Bytes bytes;
  std::size_t i = 0;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  while (i < text.size()) {
    const char c = text[i];
    if (c == ' ' || c == ',' || c == ':' || c == '\t') {
      ++i;
      continue;
    }
    if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
      i += 2;
      continue;
    }
    if (i + 1 >= text.size()) return std::nullopt;
    const int high = digit(text[i]);
    const int low = digit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    i += 2;
  }
  return bytes;
}

}  // namespace sim

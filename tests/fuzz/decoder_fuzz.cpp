// The simulator decoders on any byte stream: every byte comes out exactly
// once, in order; feeding in chunks gives what feeding whole gives; and each
// checksum verdict agrees with a check worked out here.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sim/decoder.h"

namespace {

using sim::Bytes;
using sim::Check;
using sim::Decoded;
using sim::Protocol;

constexpr Protocol kProtocols[] = {Protocol::kVisca,     Protocol::kPelcoD, Protocol::kPelcoP,
                                   Protocol::kVideotrec, Protocol::kCanon,  Protocol::kTac};

void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

std::vector<Decoded> Decode(Protocol protocol, const Bytes& stream, const Bytes& cuts) {
  auto decoder = sim::MakeDecoder(protocol);
  std::vector<Decoded> out;
  std::size_t at = 0;
  for (std::size_t i = 0; at < stream.size(); ++i) {
    const std::size_t step = cuts.empty() ? stream.size() : 1 + cuts[i % cuts.size()] % 13;
    const std::size_t take = std::min(step, stream.size() - at);
    auto got = decoder->Feed(std::span(stream).subspan(at, take));
    out.insert(out.end(), got.begin(), got.end());
    at += take;
  }
  auto rest = decoder->Flush();
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

// The verdict this protocol's checksum gives a complete frame, or nothing
// when it has no checksum.
std::optional<bool> ChecksumHolds(Protocol protocol, const Bytes& f) {
  switch (protocol) {
    case Protocol::kPelcoD: {
      if (f.size() != 7) return std::nullopt;
      unsigned sum = 0;
      for (std::size_t i = 1; i < 6; ++i) sum += f[i];
      return (sum & 0xFF) == f[6];
    }
    case Protocol::kPelcoP: {
      if (f.size() != 8) return std::nullopt;
      std::uint8_t x = 0;
      for (std::size_t i = 0; i < 7; ++i) x ^= f[i];
      return x == f[7];
    }
    case Protocol::kTac: {
      if (f.size() != 11) return std::nullopt;
      unsigned sum = 0;
      for (std::size_t i = 0; i < 9; ++i) sum += f[i];
      static constexpr char kHex[] = "0123456789ABCDEF";
      return f[9] == kHex[(sum >> 4) & 0xF] && f[10] == kHex[sum & 0xF];
    }
    default: return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const Protocol protocol = kProtocols[data[0] % 6];
  const Bytes cuts(data + 1, data + 1 + std::min<std::size_t>(size - 1, 1 + data[1] % 8));
  const Bytes stream(data + 1 + cuts.size(), data + size);

  const std::vector<Decoded> whole = Decode(protocol, stream, {});
  const std::vector<Decoded> chunked = Decode(protocol, stream, cuts);

  Bytes again;
  for (const Decoded& d : whole) again.insert(again.end(), d.bytes.begin(), d.bytes.end());
  Require(again == stream, "every byte comes out once, in order");

  // Chunks may split garbage runs differently, never frames.
  std::vector<Bytes> framesWhole;
  std::vector<Bytes> framesChunked;
  for (const Decoded& d : whole) {
    if (d.IsFrame()) framesWhole.push_back(d.bytes);
  }
  for (const Decoded& d : chunked) {
    if (d.IsFrame()) framesChunked.push_back(d.bytes);
  }
  Bytes chunkedBytes;
  for (const Decoded& d : chunked)
    chunkedBytes.insert(chunkedBytes.end(), d.bytes.begin(), d.bytes.end());
  Require(chunkedBytes == stream, "chunked feeding keeps every byte");
  Require(framesWhole == framesChunked, "chunked feeding finds the same frames");

  for (const Decoded& d : whole) {
    if (!d.IsFrame()) continue;
    const std::optional<bool> holds = ChecksumHolds(protocol, d.bytes);
    if (!holds) continue;
    Require(d.check.verdict == (*holds ? Check::Verdict::kOk : Check::Verdict::kBad),
            "the checksum verdict agrees with an independent check");
  }
  return 0;
}

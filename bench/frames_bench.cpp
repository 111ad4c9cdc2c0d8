// Costs that scale with traffic: re-addressing a Pelco camera (all eight
// frames and checksums) and decoding a busy line in the simulator.
#include <benchmark/benchmark.h>

#include "protocols/drivers.h"
#include "sim/decoder.h"

using namespace vorne;

namespace {

// Alternates between two address codes, so every call rewrites all frames.
template <typename Camera>
void BM_Readdress(benchmark::State& state) {
  Camera camera;
  int code = 1;
  for (auto _ : state) {
    code = code == 1 ? 2 : 1;
    benchmark::DoNotOptimize(camera.SetAddressCode(code));
  }
}
BENCHMARK(BM_Readdress<PelcoDController>);
BENCHMARK(BM_Readdress<PelcoPController>);

// A second of 9600-baud Pelco-D traffic (about 137 frames) with a stray byte
// between frames, fed in 64-byte reads.
void BM_DecodePelcoDLine(benchmark::State& state) {
  std::vector<std::uint8_t> line;
  for (int i = 0; i < 137; ++i) {
    const std::uint8_t frame[] = {0xFF, 0x01, 0x00, 0x04, 0x20, 0x00, 0x25};
    line.insert(line.end(), std::begin(frame), std::end(frame));
    if (i % 10 == 0) line.push_back(0x55);
  }
  for (auto _ : state) {
    auto decoder = sim::MakeDecoder(sim::Protocol::kPelcoD);
    std::size_t frames = 0;
    for (std::size_t at = 0; at < line.size(); at += 64) {
      const std::size_t n = std::min<std::size_t>(64, line.size() - at);
      frames += decoder->Feed(std::span(line).subspan(at, n)).size();
    }
    frames += decoder->Flush().size();
    benchmark::DoNotOptimize(frames);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_DecodePelcoDLine);

}  // namespace

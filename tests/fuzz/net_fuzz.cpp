// The network port's two parsers of outside input: the Telnet client's
// decoder of what a device server sends and the port name from VORNE_COMn.
//
// Input: [repeat] [n] [h] [n chunk sizes] [payload]. The server's stream is
// the payload's first h bytes once and the rest `repeat` times over (a
// sub-negotiation opened in the head and never closed is as long as the
// stream). Fed whole and fed in the chunks it must give the same data,
// answers and state, and the client's own buffers stay small however long
// the stream. The whole input is also a port name, as it is and behind
// each scheme, and a text made safe for a line of the trace.
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/net_port.h"
#include "platform/safe_text.h"

using namespace vorne;

namespace {

void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

// The largest allocation made while watching. The caller's vectors are
// reserved beforehand, so what is allocated inside Feed is the client's
// own; its sub-negotiation buffer is capped far below this.
constexpr std::size_t kLargestOwnAllocation = 1024;
thread_local bool watching = false;
thread_local std::size_t largest = 0;
void OnMalloc(const volatile void*, std::size_t size) {
  if (watching && size > largest) largest = size;
}
void OnFree(const volatile void*) {}

struct Fed {
  TelnetClient client;
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> answers;

  explicit Fed(std::size_t room) {
    // Room for every byte coming back as data and as answers.
    data.reserve(room + 64);
    answers.reserve(room + 64);
  }
  void Feed(const std::uint8_t* bytes, std::size_t count) {
    watching = true;
    client.Feed(bytes, count, &data, &answers);
    watching = false;
  }
};

void RequireSame(const Fed& a, const Fed& b, const char* what) {
  Require(a.data == b.data, what);
  Require(a.answers == b.answers, what);
  Require(a.client.ComPortAgreed() == b.client.ComPortAgreed(), what);
  Require(a.client.ComPortRefused() == b.client.ComPortRefused(), what);
  Require(a.client.Purges() == b.client.Purges(), what);
  for (std::uint8_t command = telnet::kSetBaudRate; command <= telnet::kSetStopSize; ++command) {
    Require(a.client.Answer(command) == b.client.Answer(command), what);
  }
}

// Streams that tell the decoder's hidden states apart (data, after IAC,
// after a verb, in a sub-negotiation, after IAC in one) and the options'
// agreement: fed to copies of two clients, they answer alike only when the
// clients are alike.
void RequireSameState(const Fed& a, const Fed& b) {
  using namespace telnet;
  const std::vector<std::vector<std::uint8_t>> probes = {
      {'a', 'b'},
      {kIac, kSe, 'c'},
      {kIac, kDo, kBinary, kIac, kWill, kBinary, kIac, kDo, kComPort, kIac, kDont, kComPort, kIac,
       kWill, 1, kIac, kDo, 3},
  };
  for (const auto& probe : probes) {
    Fed x = a;
    Fed y = b;
    x.Feed(probe.data(), probe.size());
    y.Feed(probe.data(), probe.size());
    RequireSame(x, y, "the state after whole and chunked feeding differs");
  }
}

void CheckTelnet(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return;
  const std::size_t repeat = 1 + data[0] % 16;
  const std::size_t splits = std::min<std::size_t>(data[1] % 16, size - 3);
  const std::uint8_t* sizes = data + 3;
  const std::uint8_t* payload = sizes + splits;
  const std::size_t payloadSize = size - 3 - splits;
  const std::size_t head = std::min<std::size_t>(data[2], payloadSize);
  std::vector<std::uint8_t> stream(payload, payload + head);
  for (std::size_t i = 0; i < repeat; ++i) {
    stream.insert(stream.end(), payload + head, payload + payloadSize);
  }

  largest = 0;
  Fed whole(stream.size());
  whole.Feed(stream.data(), stream.size());
  Fed chunked(stream.size());
  std::size_t at = 0;
  for (std::size_t i = 0; at < stream.size(); ++i) {
    // Chunks of 1 to 31 bytes, 0 standing for an empty one and then one
    // byte; without split sizes, one byte at a time.
    std::size_t chunk = splits == 0 ? 1 : sizes[i % splits] % 32;
    if (chunk == 0) {
      chunked.Feed(stream.data() + at, 0);
      chunk = 1;
    }
    const std::size_t count = std::min(chunk, stream.size() - at);
    chunked.Feed(stream.data() + at, count);
    at += count;
  }
  Require(largest <= kLargestOwnAllocation, "the client's own buffers grow with the stream");
  RequireSame(whole, chunked, "whole and chunked feeding differ");
  RequireSameState(whole, chunked);

  Require(whole.data.size() <= stream.size(), "more data than bytes came");
  // Every answer (3 bytes) is owed to a command of 3 bytes.
  Require(whole.answers.size() <= stream.size(), "more answers than commands came");
  Require(static_cast<std::size_t>(whole.client.Purges()) <= stream.size() / 6,
          "more purge answers than came");
}

void CheckPortName(std::string_view path) {
  std::string error;
  const auto address = ParseNetAddress(path, &error);
  if (!address) {
    Require(!error.empty(), "a refused port name without a reason");
    return;
  }
  Require(IsNetPath(path), "an address parsed from what is no network port name");
  Require(address->rfc2217 == path.starts_with("rfc2217://"), "the scheme read wrong");
  Require(!address->host.empty(), "an address without a host");
  Require(address->port >= 1, "an address with port 0");
  Require(address->connectTimeoutMs >= 1, "a connect bound below 1 ms");
}

// Made safe, any text is valid UTF-8 without a control character and
// stays within four escape bytes per byte kept, plus the length note.
void CheckSafeText(std::string_view text, std::size_t limit) {
  const std::string safe = SafeText(text, limit);
  Require(safe.size() <= 4 * std::min(limit, text.size()) + 32, "a safe text too long");
  for (std::size_t i = 0; i < safe.size();) {
    const auto lead = static_cast<unsigned char>(safe[i]);
    Require(lead >= 0x20 && lead != 0x7F, "a control character in a safe text");
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    Require(lead < 0x80 || (lead >= 0xC2 && lead <= 0xF4), "a safe text is not UTF-8");
    Require(i + length <= safe.size(), "a safe text ends inside a character");
    for (std::size_t k = 1; k < length; ++k) {
      Require((static_cast<unsigned char>(safe[i + k]) & 0xC0) == 0x80, "a safe text is not UTF-8");
    }
    Require(!(lead == 0xC2 && static_cast<unsigned char>(safe[i + 1]) < 0xA0),
            "a C1 control in a safe text");
    i += length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool hooked = __sanitizer_install_malloc_and_free_hooks(&OnMalloc, &OnFree) != 0;
  Require(hooked, "no allocation hook");
  CheckTelnet(data, size);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckPortName(text);
  for (const std::string_view scheme : {"tcp://", "rfc2217://"}) {
    CheckPortName(std::string(scheme) + std::string(text));
  }
  CheckSafeText(text, kSafeTextLimit);
  CheckSafeText(text, size == 0 ? 0 : data[0] % 64);
  return 0;
}

#include "wire_watch.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

namespace vornectl {

namespace {

constexpr std::size_t kTacMessage = 11;

// The module's verdicts on a TAC exchange, and the words of its failure lines.
constexpr const char* kVerdicts[] = {"no reply in ", "reply checksum wrong", "short reply"};

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

// "out 11: 2A 30 ..." -> the bytes; false for other lines.
bool ParseBytes(const std::string& body, const std::string& direction,
                std::vector<std::uint8_t>* bytes) {
  if (!StartsWith(body, direction + " ")) return false;
  const auto colon = body.find(':');
  if (colon == std::string::npos) return false;
  for (std::size_t i = colon + 1; i + 2 < body.size() + 1; i += 3) {
    if (body[i] != ' ') break;
    bytes->push_back(static_cast<std::uint8_t>(std::stoul(body.substr(i + 1, 2), nullptr, 16)));
  }
  return true;
}

std::string HexByte(unsigned value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", value & 0xFF);
  return text;
}

// The verdict on one TAC answer, or "" when the module accepts it.
std::string TacVerdict(const std::vector<std::uint8_t>& reply) {
  if (reply.empty()) return "no reply in 200 ms";
  if (reply.size() < kTacMessage) {
    return "short reply (" + std::to_string(reply.size()) + " of 11 bytes)";
  }
  if (reply.size() > kTacMessage) return {};
  unsigned sum = 0;
  for (std::size_t i = 0; i < 9; ++i) sum += reply[i];
  const std::string expected = HexByte(sum);
  const std::string got{static_cast<char>(reply[9]), static_cast<char>(reply[10])};
  if (got == expected) return {};
  std::string shown;
  for (char c : got) shown += std::isprint(static_cast<unsigned char>(c)) ? std::string(1, c) : "?";
  return "reply checksum wrong (expected " + expected + ", got " + shown + ")";
}

}  // namespace

std::string TraceText(const std::string& line) {
  const auto com = line.find(" COM");
  return com == std::string::npos ? line : line.substr(com + 1);
}

WireVerdict JudgeTrace(const std::vector<std::string>& lines, bool tacExchanges) {
  WireVerdict verdict;
  // One TAC exchange: a message out, what came back, and whether the module
  // already said what it made of it.
  struct Exchange {
    std::string port;
    std::vector<std::uint8_t> reply;
    bool judged = false;
  };
  std::optional<Exchange> exchange;
  auto finish = [&] {
    if (exchange && !exchange->judged) {
      const std::string problem = TacVerdict(exchange->reply);
      if (!problem.empty()) verdict.problems.push_back(exchange->port + " " + problem);
    }
    exchange.reset();
  };
  for (const std::string& line : lines) {
    const std::string text = TraceText(line);
    const auto space = text.find(' ');
    if (!StartsWith(text, "COM") || space == std::string::npos) continue;
    const std::string port = text.substr(0, space);
    const std::string body = text.substr(space + 1);
    if (StartsWith(body, "open failed ")) {
      verdict.openFailures.push_back(body.substr(12));
      verdict.problems.push_back(text);
      continue;
    }
    bool isVerdict = false;
    for (const char* words : kVerdicts) isVerdict = isVerdict || StartsWith(body, words);
    if (isVerdict) {
      verdict.problems.push_back(text);
      if (exchange) exchange->judged = true;
      continue;
    }
    if (body.find(" failed: ") != std::string::npos || StartsWith(body, "failed")) {
      verdict.problems.push_back(text);
      continue;
    }
    std::vector<std::uint8_t> bytes;
    if (tacExchanges && ParseBytes(body, "out", &bytes)) {
      finish();
      if (bytes.size() == kTacMessage) exchange = Exchange{port, {}, false};
    } else if (exchange && ParseBytes(body, "in", &bytes)) {
      exchange->reply.insert(exchange->reply.end(), bytes.begin(), bytes.end());
    } else if (body == "close") {
      finish();
    }
  }
  finish();
  return verdict;
}

WireWatch::WireWatch() {
  const char* asked = std::getenv("VORNE_TRACE");
  const std::string target = asked == nullptr ? std::string() : std::string(asked);
  if (!target.empty() && target != "-") {
    path_ = target;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path_, ec);
    offset_ = ec ? 0 : size;
    return;
  }
  echo_ = target == "-";
  char name[] = "/tmp/vornectl-trace-XXXXXX";
  const int fd = ::mkstemp(name);
  if (fd < 0) return;  // no trace then: the module's log alone decides
  ::close(fd);
  path_ = name;
  ownFile_ = true;
  setenv("VORNE_TRACE", path_.c_str(), 1);
}

WireWatch::~WireWatch() {
  if (ownFile_) {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
    // A later program in this process must not write to a removed file.
    if (echo_) {
      setenv("VORNE_TRACE", "-", 1);
    } else {
      unsetenv("VORNE_TRACE");
    }
  }
}

std::vector<std::string> WireWatch::TakeLines() {
  std::vector<std::string> lines;
  if (path_.empty()) return lines;
  std::ifstream in(path_, std::ios::binary);
  if (!in) return lines;
  in.seekg(static_cast<std::streamoff>(offset_));
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  offset_ += text.size();
  partial_ += text;
  std::size_t start = 0;
  for (auto end = partial_.find('\n'); end != std::string::npos;
       start = end + 1, end = partial_.find('\n', start)) {
    lines.push_back(partial_.substr(start, end - start));
  }
  partial_.erase(0, start);
  if (echo_) {
    for (const std::string& line : lines) std::cerr << line << "\n";
  }
  return lines;
}

}  // namespace vornectl

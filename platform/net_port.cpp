#include "platform/net_port.h"

#include <algorithm>
#include <memory>
#include <thread>

namespace vorne {

namespace {

using Clock = std::chrono::steady_clock;
using namespace telnet;

constexpr std::string_view kRawScheme = "tcp://";
constexpr std::string_view kRfc2217Scheme = "rfc2217://";
constexpr std::string_view kTimeoutKey = "connect_timeout_ms=";
constexpr int kLongestTimeoutMs = 60000;

// A decimal number of plain digits within [low, high].
std::optional<int> Number(std::string_view text, int low, int high) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}

std::string ParityName(std::uint8_t code) {
  constexpr std::string_view kNames[] = {"?", "n", "o", "e", "m", "s"};
  return std::string(code < 6 ? kNames[code] : kNames[0]);
}

std::uint8_t ParityCode(char parity) {
  switch (parity) {
    case 'o': return 2;
    case 'e': return 3;
    case 'm': return 4;
    case 's': return 5;
    default: return 1;
  }
}

void AppendCommand(std::uint8_t command, const std::uint8_t* value, std::size_t size,
                   std::vector<std::uint8_t>* out) {
  out->insert(out->end(), {kIac, kSb, kComPort, command});
  TelnetClient::Escape(value, size, out);
  out->insert(out->end(), {kIac, kSe});
}

// What a server said before it hung up, for the trace: printable text only.
std::string Said(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (std::uint8_t b : bytes) {
    if (b >= 0x20 && b < 0x7F) text += static_cast<char>(b);
    if (text.size() >= 80) break;
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

bool IsNetPath(std::string_view path) {
  return path.starts_with(kRawScheme) || path.starts_with(kRfc2217Scheme);
}

std::optional<NetAddress> ParseNetAddress(std::string_view path, std::string* error) {
  const auto fail = [&](std::string_view why) -> std::optional<NetAddress> {
    *error = std::string(why);
    return std::nullopt;
  };
  NetAddress address;
  if (path.starts_with(kRawScheme)) {
    path.remove_prefix(kRawScheme.size());
  } else if (path.starts_with(kRfc2217Scheme)) {
    address.rfc2217 = true;
    path.remove_prefix(kRfc2217Scheme.size());
  } else {
    return fail("not a tcp:// or rfc2217:// port name");
  }
  std::string_view query;
  if (const std::size_t mark = path.find('?'); mark != std::string_view::npos) {
    query = path.substr(mark + 1);
    path = path.substr(0, mark);
  }
  std::string_view port;
  if (path.starts_with('[')) {  // [IPv6]:PORT
    const std::size_t close = path.find(']');
    if (close == std::string_view::npos || path.substr(close + 1, 1) != ":") {
      return fail("expected [ADDRESS]:PORT");
    }
    address.host = std::string(path.substr(1, close - 1));
    port = path.substr(close + 2);
  } else {
    const std::size_t colon = path.rfind(':');
    if (colon == std::string_view::npos) return fail("expected HOST:PORT");
    address.host = std::string(path.substr(0, colon));
    port = path.substr(colon + 1);
  }
  if (address.host.empty()) return fail("no host");
  const std::optional<int> number = Number(port, 1, 65535);
  if (!number) return fail("the port is not a number from 1 to 65535");
  address.port = static_cast<std::uint16_t>(*number);
  if (!query.empty()) {
    if (!query.starts_with(kTimeoutKey)) return fail("the only option is connect_timeout_ms=N");
    const std::optional<int> timeout =
        Number(query.substr(kTimeoutKey.size()), 1, kLongestTimeoutMs);
    if (!timeout) return fail("connect_timeout_ms is not a number from 1 to 60000");
    address.connectTimeoutMs = *timeout;
  }
  return address;
}

// ---- Telnet ----

std::vector<std::uint8_t> TelnetClient::Hello() { return {kIac, kWill, kComPort}; }

void TelnetClient::Escape(const std::uint8_t* bytes, std::size_t count,
                          std::vector<std::uint8_t>* out) {
  for (std::size_t i = 0; i < count; ++i) {
    out->push_back(bytes[i]);
    if (bytes[i] == kIac) out->push_back(kIac);
  }
}

void TelnetClient::AppendSettings(const LineSettings& settings, std::vector<std::uint8_t>* out) {
  const auto baud = static_cast<std::uint32_t>(settings.baud);
  const std::uint8_t rate[] = {
      static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
      static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)};
  AppendCommand(kSetBaudRate, rate, sizeof(rate), out);
  const std::uint8_t size = static_cast<std::uint8_t>(settings.dataBits);
  AppendCommand(kSetDataSize, &size, 1, out);
  const std::uint8_t parity = ParityCode(settings.parity);
  AppendCommand(kSetParity, &parity, 1, out);
  const std::uint8_t stop = settings.stopBits == 2 ? 2 : 1;
  AppendCommand(kSetStopSize, &stop, 1, out);
}

void TelnetClient::AppendPurge(std::vector<std::uint8_t>* out) {
  const std::uint8_t what = kPurgeReceived;
  AppendCommand(kPurgeData, &what, 1, out);
}

void TelnetClient::Feed(const std::uint8_t* bytes, std::size_t count,
                        std::vector<std::uint8_t>* data, std::vector<std::uint8_t>* answers) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t b = bytes[i];
    switch (state_) {
      case State::kData:
        if (b == kIac) {
          state_ = State::kIac;
        } else {
          data->push_back(b);
        }
        break;
      case State::kIac:
        if (b == kIac) {
          data->push_back(b);
          state_ = State::kData;
        } else if (b >= kWill) {
          verb_ = b;
          state_ = State::kOption;
        } else if (b == kSb) {
          sub_.clear();
          state_ = State::kSub;
        } else {
          state_ = State::kData;  // NOP, go-ahead and the like carry nothing for us
        }
        break;
      case State::kOption:
        Negotiate(verb_, b, answers);
        state_ = State::kData;
        break;
      case State::kSub:
        if (b == kIac) {
          state_ = State::kSubIac;
        } else if (sub_.size() < 64) {
          sub_.push_back(b);
        }
        break;
      case State::kSubIac:
        if (b == kIac) {
          if (sub_.size() < 64) sub_.push_back(b);
          state_ = State::kSub;
        } else {
          // IAC SE ends it; anything else is a broken sub-negotiation,
          // ended all the same.
          if (SubNegotiation()) data->clear();
          state_ = State::kData;
        }
        break;
    }
  }
}

void TelnetClient::Negotiate(std::uint8_t verb, std::uint8_t option,
                             std::vector<std::uint8_t>* answers) {
  // Binary both ways keeps the server from touching CR and NUL bytes; the
  // client will run COM-PORT-OPTION but needs nothing of the server's own.
  const bool weWant = option == kBinary || option == kComPort;
  const bool theyMay = option == kBinary;
  const auto answer = [&](std::uint8_t reply) {
    answers->insert(answers->end(), {kIac, reply, option});
  };
  switch (verb) {
    case kDo:
      if (option == kComPort) comPort_ = Agreement::kYes;
      if (weWant) {
        // Hello already said WILL COM-PORT-OPTION.
        if (!ours_[option] && option != kComPort) answer(kWill);
        ours_[option] = true;
      } else if (!refusedOurs_[option]) {
        refusedOurs_[option] = true;
        answer(kWont);
      }
      break;
    case kDont:
      if (option == kComPort) comPort_ = Agreement::kNo;
      if (ours_[option]) answer(kWont);
      ours_[option] = false;
      break;
    case kWill:
      if (theyMay) {
        if (!theirs_[option]) answer(kDo);
        theirs_[option] = true;
      } else if (!refusedTheirs_[option]) {
        refusedTheirs_[option] = true;
        answer(kDont);
      }
      break;
    case kWont:
      if (theirs_[option]) answer(kDont);
      theirs_[option] = false;
      break;
    default: break;
  }
}

bool TelnetClient::SubNegotiation() {
  // Only the server's answers matter; its notifications of line and modem
  // state are not asked for and are skipped.
  if (sub_.size() < 2 || sub_[0] != kComPort || sub_[1] < kServerReply) return false;
  const int command = sub_[1] - kServerReply;
  if (command == kPurgeData) {
    ++purges_;
    return true;  // what came before the purge is gone
  }
  if (command < kSetBaudRate || command > kSetStopSize) return false;
  std::uint32_t value = 0;
  for (std::size_t i = 2; i < sub_.size(); ++i) value = value << 8 | sub_[i];
  answers_[static_cast<std::size_t>(command)] = value;
  return false;
}

// ---- the network port ----

std::string NetPort::Where() const { return address_.host + ":" + std::to_string(address_.port); }

PortResult NetPort::Open(const NetAddress& address, const LineSettings& settings) {
  Close();
  address_ = address;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(address.connectTimeoutMs);
  // A server still ending the last session (often this port's own last
  // frame) turns a new connection away for a moment: try again within the
  // bound.
  for (;;) {
    PortResult result = Connect(settings, deadline);
    if (result.status != PortStatus::kBusy || !closedByServer_ || Clock::now() >= deadline) {
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

PortResult NetPort::Connect(const LineSettings& settings, net_socket::Deadline deadline) {
  const NetAddress& address = address_;
  telnet_ = TelnetClient();
  input_.clear();
  closedByServer_ = false;
  unsent_ = false;
  std::intptr_t handle = kNoHandle;
  const Clock::time_point started = Clock::now();
  if (PortResult connected = net_socket::Connect(address, deadline, &handle); !connected.ok()) {
    return connected;
  }
  handle_ = handle;
  const Clock::duration roundTrip = Clock::now() - started;
  const auto busy = [&] {
    std::string reason = Where() + " closed the connection";
    if (const std::string said = Said(input_); !said.empty()) reason += ": " + said;
    Close();
    return PortResult{PortStatus::kBusy, reason};
  };

  if (!address.rfc2217) {
    // A raw server that serves someone else says so and hangs up at once
    // (ser2net: "Port already in use"), or it says nothing; its word comes
    // about a round trip after the connect. Input from before this frame
    // is dropped either way.
    const Clock::time_point verdict =
        std::min(deadline, Clock::now() + 2 * roundTrip + std::chrono::milliseconds(5));
    do {
      if (PortResult pumped = Pump(verdict); !pumped.ok()) {
        Close();
        return pumped;
      }
    } while (!closedByServer_ && Clock::now() < verdict);
    if (closedByServer_) return busy();
    input_.clear();
    settings_ = settings;
    return {};
  }

  const std::vector<std::uint8_t> hello = TelnetClient::Hello();
  if (PortResult sent = net_socket::Send(handle_, hello.data(), hello.size(), deadline);
      !sent.ok()) {
    Close();
    return sent;
  }
  while (!telnet_.ComPortAgreed() && !telnet_.ComPortRefused() && !closedByServer_ &&
         Clock::now() < deadline) {
    if (PortResult pumped = Pump(deadline); !pumped.ok()) {
      Close();
      return pumped;
    }
  }
  if (closedByServer_) return busy();
  if (telnet_.ComPortRefused()) {
    Close();
    return {PortStatus::kRefused, Where() + " does not take COM-PORT-OPTION (no RFC 2217)"};
  }
  settings_ = settings;
  if (!telnet_.ComPortAgreed()) {
    PortResult result;
    result.note = "no answer to COM-PORT-OPTION from " + Where() + " in " +
                  std::to_string(address.connectTimeoutMs) +
                  " ms; the line runs as the server has it";
    return result;
  }
  PortResult settled = Settle(settings, true, deadline);
  if (closedByServer_) return busy();
  if (!settled.ok()) Close();
  return settled;
}

PortResult NetPort::Settle(const LineSettings& settings, bool purge,
                           net_socket::Deadline deadline) {
  scratch_.clear();
  TelnetClient::AppendSettings(settings, &scratch_);
  if (purge) TelnetClient::AppendPurge(&scratch_);
  telnet_.ForgetAnswers();
  const int purgesBefore = telnet_.Purges();
  if (PortResult sent = net_socket::Send(handle_, scratch_.data(), scratch_.size(), deadline);
      !sent.ok()) {
    return sent;
  }
  const auto answered = [&] {
    for (std::uint8_t command = kSetBaudRate; command <= kSetStopSize; ++command) {
      if (!telnet_.Answer(command)) return false;
    }
    return !purge || telnet_.Purges() > purgesBefore;
  };
  while (!answered() && !closedByServer_ && Clock::now() < deadline) {
    if (PortResult pumped = Pump(deadline); !pumped.ok()) return pumped;
  }
  if (purge && telnet_.Purges() == purgesBefore) input_.clear();
  settings_ = settings;

  // The server answers with what it put in force; a line it could not set
  // as asked is refused, silence is only noted.
  const std::uint32_t wanted[] = {0, static_cast<std::uint32_t>(settings.baud),
                                  static_cast<std::uint32_t>(settings.dataBits),
                                  ParityCode(settings.parity), settings.stopBits == 2 ? 2U : 1U};
  constexpr const char* kNames[] = {"", "SET-BAUDRATE", "SET-DATASIZE", "SET-PARITY",
                                    "SET-STOPSIZE"};
  std::string missing;
  for (std::uint8_t command = kSetBaudRate; command <= kSetStopSize; ++command) {
    const std::optional<std::uint32_t> answer = telnet_.Answer(command);
    if (!answer) {
      missing += missing.empty() ? "" : ", ";
      missing += kNames[command];
    } else if (*answer != wanted[command]) {
      const auto show = [&](std::uint32_t value) {
        return command == kSetParity ? ParityName(static_cast<std::uint8_t>(value))
                                     : std::to_string(value);
      };
      return {PortStatus::kRefused, Where() + " put " + show(*answer) + " in force for " +
                                        kNames[command] + " " + show(wanted[command])};
    }
  }
  PortResult result;
  if (!missing.empty()) {
    result.note = "no answer to " + missing + " from " + Where() + " in " +
                  std::to_string(address_.connectTimeoutMs) + " ms";
  }
  return result;
}

PortResult NetPort::Pump(net_socket::Deadline deadline) {
  scratch_.clear();
  bool closed = false;
  PortResult received = net_socket::Receive(handle_, deadline, &scratch_, &closed);
  if (closed) closedByServer_ = true;
  if (!received.ok() || scratch_.empty()) return received;
  if (!address_.rfc2217) {
    input_.insert(input_.end(), scratch_.begin(), scratch_.end());
    return {};
  }
  std::vector<std::uint8_t> answers;
  telnet_.Feed(scratch_.data(), scratch_.size(), &input_, &answers);
  if (answers.empty()) return {};
  const Clock::time_point bound =
      Clock::now() + std::chrono::milliseconds(address_.connectTimeoutMs);
  return net_socket::Send(handle_, answers.data(), answers.size(), bound);
}

PortResult NetPort::Configure(const LineSettings& settings) {
  if (!IsOpen()) return {PortStatus::kIoError, "the connection is closed"};
  if (settings == settings_) return {};
  // A raw server runs the line as its own configuration says.
  if (!address_.rfc2217 || !telnet_.ComPortAgreed()) {
    settings_ = settings;
    return {};
  }
  return Settle(settings, false,
                Clock::now() + std::chrono::milliseconds(address_.connectTimeoutMs));
}

PortResult NetPort::Write(const std::uint8_t* bytes, std::size_t count) {
  if (!IsOpen()) return {PortStatus::kIoError, "the connection is closed"};
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(address_.connectTimeoutMs);
  const std::uint8_t* out = bytes;
  std::size_t size = count;
  if (address_.rfc2217) {
    scratch_.clear();
    TelnetClient::Escape(bytes, count, &scratch_);
    out = scratch_.data();
    size = scratch_.size();
  }
  if (PortResult sent = net_socket::Send(handle_, out, size, deadline); !sent.ok()) {
    unsent_ = true;
    return sent;
  }
  // The server has every byte once it ends the session after reading them
  // all, which Close waits for. Waiting here for the server's
  // acknowledgement instead would wait out its delayed ACK on every frame.
  // A server may drop what its line has not sent when the session ends
  // (ser2net does): the session is held for the bytes' line time first.
  lineFreeAt_ = Clock::now() + std::chrono::milliseconds(LineMilliseconds(count, settings_.baud) +
                                                         kServerLineMarginMs);
  // A server that has already hung up is seen at once.
  if (PortResult pumped = Pump(Clock::time_point{}); !pumped.ok()) {
    unsent_ = true;
    return pumped;
  }
  if (closedByServer_) {
    unsent_ = true;
    std::string reason = Where() + " closed the connection";
    if (const std::string said = Said(input_); !said.empty()) reason += ": " + said;
    return {PortStatus::kIoError, reason};
  }
  return {};
}

PortResult NetPort::Waiting(std::size_t* count) {
  *count = 0;
  if (!IsOpen()) return {PortStatus::kIoError, "the connection is closed"};
  if (PortResult pumped = Pump(Clock::time_point{}); !pumped.ok()) return pumped;
  *count = input_.size();
  return {};
}

PortResult NetPort::Read(std::size_t max, std::vector<std::uint8_t>* out) {
  if (!IsOpen()) return {PortStatus::kIoError, "the connection is closed"};
  if (PortResult pumped = Pump(Clock::time_point{}); !pumped.ok()) return pumped;
  const std::size_t take = std::min(max, input_.size());
  const auto end = input_.begin() + static_cast<std::ptrdiff_t>(take);
  out->insert(out->end(), input_.begin(), end);
  input_.erase(input_.begin(), end);
  return {};
}

PortResult NetPort::DiscardInput() {
  if (!IsOpen()) return {PortStatus::kIoError, "the connection is closed"};
  if (address_.rfc2217 && telnet_.ComPortAgreed()) {
    // The server's buffer goes too; its answer marks where the old input
    // ends. Without an answer in time, what has come is dropped.
    scratch_.clear();
    TelnetClient::AppendPurge(&scratch_);
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(address_.connectTimeoutMs);
    const int before = telnet_.Purges();
    if (PortResult sent = net_socket::Send(handle_, scratch_.data(), scratch_.size(), deadline);
        !sent.ok()) {
      return sent;
    }
    while (telnet_.Purges() == before && !closedByServer_ && Clock::now() < deadline) {
      if (PortResult pumped = Pump(deadline); !pumped.ok()) return pumped;
    }
    if (telnet_.Purges() != before) return {};
  } else if (PortResult pumped = Pump(Clock::time_point{}); !pumped.ok()) {
    return pumped;
  }
  input_.clear();
  return {};
}

void NetPort::Close() {
  if (!IsOpen()) return;
  if (!unsent_ && !closedByServer_) {
    std::this_thread::sleep_until(lineFreeAt_);
    // The server ends its session on the line before the port counts as
    // closed, so that the next frame finds the line free.
    net_socket::Finish(handle_,
                       Clock::now() + std::chrono::milliseconds(address_.connectTimeoutMs));
  }
  net_socket::Close(handle_, unsent_);
  handle_ = kNoHandle;
  input_.clear();
}

// ---- the hook into the serial port ----

// Here, where a NetPort is a complete type.
SerialPort::SerialPort() = default;

PortResult SerialPort::OpenNet(const std::string& path, const LineSettings& settings) {
  std::string error;
  const std::optional<NetAddress> address = ParseNetAddress(path, &error);
  if (!address) return {PortStatus::kNoDevice, "bad port name: " + error};
  auto port = std::make_unique<NetPort>();
  PortResult opened = port->Open(*address, settings);
  if (opened.ok()) net_ = std::move(port);
  return opened;
}

}  // namespace vorne

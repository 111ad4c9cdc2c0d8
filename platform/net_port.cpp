#include "platform/net_port.h"

#include <algorithm>
#include <memory>
#include <mutex>
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

// What a server sent before it ended the session, for the trace: its
// first bytes in hex, no more than a few.
std::string Said(const std::vector<std::uint8_t>& bytes) {
  constexpr std::size_t kShown = 16;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < bytes.size() && i < kShown; ++i) {
    if (i != 0) text += ' ';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  if (bytes.size() > kShown) text += " ...";
  return text;
}

// A host name, or an address in brackets, holds nothing else.
bool HostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}
bool AddressCharacter(char c) {
  return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' ||
         c == '.' || c == '%' || HostCharacter(c);
}
constexpr std::size_t kLongestHost = 253;

// The time `count` bytes take on a line run at `settings`, every bit
// counted: start, data, parity and stop bits.
std::chrono::microseconds LineTime(std::size_t count, const LineSettings& settings) {
  const std::int64_t bits =
      1 + settings.dataBits + (settings.parity == 'n' ? 0 : 1) + (settings.stopBits == 2 ? 2 : 1);
  const std::int64_t baud = settings.baud > 0 ? settings.baud : 1;
  return std::chrono::microseconds((static_cast<std::int64_t>(count) * bits * 1000000 + baud - 1) /
                                   baud);
}

// Two Telnet commands (IAC and a verb or a sub-negotiation) at the start
// of what a raw port sent: a Telnet server greeting, not a camera.
bool LooksLikeTelnet(const std::vector<std::uint8_t>& first) {
  const auto command = [&](std::size_t at) {
    return first.size() > at + 2 && first[at] == kIac && first[at + 1] >= kSb &&
           first[at + 1] <= kDont;
  };
  return command(0) && (first[1] == kSb || command(3));
}

// What is known of the scheme behind a port name: found to speak the
// other one (so that the frames after the first fail before a byte is
// sent), or heard out as a raw port (so that its frames need only a short
// wait for a Telnet greeting). Few names are in use at once.
struct SchemeVerdict {
  std::string name;
  std::string wrong;  // why the scheme is wrong; empty: a raw port heard out
  Clock::time_point until;
};
std::mutex verdictsLock;
std::vector<SchemeVerdict>& Verdicts() {
  static std::vector<SchemeVerdict> verdicts;
  return verdicts;
}

// A raw port stays heard out this long; a wrong scheme kSchemeVerdictTime.
constexpr std::chrono::minutes kRawPortTime{5};

std::optional<SchemeVerdict> KnownScheme(const std::string& name) {
  std::lock_guard lock(verdictsLock);
  auto& verdicts = Verdicts();
  const Clock::time_point now = Clock::now();
  for (const SchemeVerdict& v : verdicts) {
    if (v.name == name && v.until > now) return v;
  }
  return std::nullopt;
}

void RememberScheme(const std::string& name, const std::string& wrong) {
  constexpr std::size_t kKept = 128;
  std::lock_guard lock(verdictsLock);
  auto& verdicts = Verdicts();
  const Clock::time_point now = Clock::now();
  std::erase_if(verdicts, [&](const SchemeVerdict& v) { return v.name == name || v.until <= now; });
  if (verdicts.size() >= kKept) verdicts.erase(verdicts.begin());
  verdicts.push_back({name, wrong,
                      now + (wrong.empty() ? Clock::duration(kRawPortTime)
                                           : Clock::duration(kSchemeVerdictTime))});
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
  const std::string_view whole = path;
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
  if (address.host.size() > kLongestHost) return fail("the host name is too long");
  const bool bracketed = path.starts_with('[');
  for (const char c : address.host) {
    if (!(bracketed ? AddressCharacter(c) : HostCharacter(c))) {
      return fail("the host holds a character no host name or address can hold");
    }
  }
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
  address.name = std::string(whole);
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
          negotiated_ = true;
          state_ = State::kOption;
        } else if (b == kSb) {
          sub_.clear();
          negotiated_ = true;
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

std::string NetPort::Ended(std::string_view what) const {
  std::string reason = Where() + " " + std::string(what);
  if (const std::string said = Said(greeting_); !said.empty()) reason += " (it sent " + said + ")";
  return reason;
}

PortResult NetPort::Open(const NetAddress& address, const LineSettings& settings) {
  static_cast<void>(Close());
  address_ = address;
  const std::optional<SchemeVerdict> known = KnownScheme(address.name);
  if (known && !known->wrong.empty()) return {PortStatus::kNoDevice, known->wrong};
  heardOut_ = known.has_value();
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(address.connectTimeoutMs);
  // A server that serves another client, or is still ending the last
  // session (often this port's own last frame), turns a new connection
  // away: try again within the bound.
  // An attempt too short to hear the server out is not made: the bound
  // would end it with no verdict, or with a wrong one.
  constexpr auto kShortestAttempt = std::chrono::milliseconds(10);
  for (;;) {
    PortResult result = Connect(settings, deadline);
    if (result.status != PortStatus::kBusy || !(closedByServer_ || reset_) ||
        deadline - Clock::now() < std::max<Clock::duration>(kShortestAttempt, 8 * roundTrip_)) {
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

PortResult NetPort::Connect(const LineSettings& settings, net_socket::Deadline deadline) {
  const NetAddress& address = address_;
  telnet_ = TelnetClient();
  input_.clear();
  greeting_.clear();
  closedByServer_ = false;
  reset_ = false;
  unsent_ = false;
  written_ = 0;
  dropped_ = 0;
  std::intptr_t handle = kNoHandle;
  const Clock::time_point started = Clock::now();
  if (PortResult connected = net_socket::Connect(address, deadline, &handle, &reset_);
      !connected.ok()) {
    return connected;
  }
  handle_ = handle;
  roundTrip_ = Clock::now() - started;
  const auto fail = [&](PortResult result) {
    static_cast<void>(Close());
    return result;
  };
  const auto turnedAway = [&] {
    return fail(
        {PortStatus::kBusy, Ended(reset_ ? "reset the connection" : "closed the connection") +
                                ": held by another client"});
  };

  if (!address.rfc2217) {
    // A raw server that serves someone else says so and hangs up at once
    // (ser2net: "Port already in use"); a Telnet server greets with its
    // options. Either comes about a round trip after the connect; a
    // verdict the bound cuts short is no verdict. Input from before this
    // frame is dropped.
    // How long a port not heard out yet is given to greet.
    constexpr Clock::duration kFirstGreetingWait = std::chrono::milliseconds(20);
    const Clock::time_point verdict =
        Clock::now() + 2 * roundTrip_ +
        (heardOut_ ? Clock::duration(std::chrono::microseconds(300))
                   : std::min<Clock::duration>(kFirstGreetingWait, (deadline - Clock::now()) / 4));
    if (verdict > deadline) {
      return fail({PortStatus::kBusy, "no time left in " +
                                          std::to_string(address.connectTimeoutMs) +
                                          " ms to hear " + Where() + " out"});
    }
    do {
      if (PortResult pumped = Pump(verdict); !pumped.ok()) return fail(pumped);
    } while (!closedByServer_ && !reset_ && Clock::now() < verdict);
    if (LooksLikeTelnet(greeting_)) {
      std::string reason = Ended("greets with Telnet negotiation") +
                           ": the port looks like RFC 2217; use rfc2217://" + Where();
      RememberScheme(address.name, reason);
      return fail({PortStatus::kNoDevice, std::move(reason)});
    }
    if (closedByServer_ || reset_) return turnedAway();
    input_.clear();
    settings_ = settings;
    return {};
  }

  const std::vector<std::uint8_t> hello = TelnetClient::Hello();
  if (PortResult sent = Put(hello.data(), hello.size(), deadline); !sent.ok()) {
    return closedByServer_ || reset_ ? turnedAway() : fail(sent);
  }
  while (!telnet_.ComPortAgreed() && !telnet_.ComPortRefused() && !closedByServer_ && !reset_ &&
         Clock::now() < deadline) {
    if (PortResult pumped = Pump(deadline); !pumped.ok()) return fail(pumped);
  }
  if (closedByServer_ || reset_) return turnedAway();
  if (telnet_.ComPortRefused()) {
    return fail({PortStatus::kRefused, Where() + " does not take COM-PORT-OPTION (no RFC 2217)"});
  }
  if (!telnet_.Negotiated()) {
    // Not a Telnet server: what it runs is a raw line, which has just had
    // the hello as stray bytes and must get no frame this way.
    std::string reason = Ended("answered no Telnet negotiation in " +
                               std::to_string(address.connectTimeoutMs) + " ms") +
                         ": the port looks raw; use tcp://" + Where();
    RememberScheme(address.name, reason);
    return fail({PortStatus::kNoDevice, std::move(reason)});
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
  if (closedByServer_ || reset_) return turnedAway();
  if (!settled.ok()) return fail(settled);
  return settled;
}

PortResult NetPort::Settle(const LineSettings& settings, bool purge,
                           net_socket::Deadline deadline) {
  scratch_.clear();
  TelnetClient::AppendSettings(settings, &scratch_);
  if (purge) TelnetClient::AppendPurge(&scratch_);
  telnet_.ForgetAnswers();
  const int purgesBefore = telnet_.Purges();
  if (PortResult sent = Put(scratch_.data(), scratch_.size(), deadline); !sent.ok()) return sent;
  const auto answered = [&] {
    for (std::uint8_t command = kSetBaudRate; command <= kSetStopSize; ++command) {
      if (!telnet_.Answer(command)) return false;
    }
    return !purge || telnet_.Purges() > purgesBefore;
  };
  while (!answered() && !closedByServer_ && !reset_ && Clock::now() < deadline) {
    if (PortResult pumped = Pump(deadline); !pumped.ok()) return pumped;
  }
  if (purge && telnet_.Purges() == purgesBefore) input_.clear();

  // The server answers with what it put in force; a line it could not set
  // as asked is refused, and so is silence: the settings are not known to
  // be in force.
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
  if (!missing.empty()) {
    return {PortStatus::kRefused, "no answer to " + missing + " from " + Where() + " in " +
                                      std::to_string(address_.connectTimeoutMs) +
                                      " ms: the line settings are not known to be in force"};
  }
  settings_ = settings;
  return {};
}

PortResult NetPort::Put(const std::uint8_t* bytes, std::size_t count,
                        net_socket::Deadline deadline) {
  bool gone = false;
  PortResult sent = net_socket::Send(handle_, bytes, count, deadline, &gone);
  if (gone) reset_ = true;
  return sent;
}

PortResult NetPort::Pump(net_socket::Deadline deadline) {
  scratch_.clear();
  net_socket::Ending ending;
  PortResult received = net_socket::Receive(handle_, deadline, kInputLimit, &scratch_, &ending);
  closedByServer_ = closedByServer_ || ending.closed;
  reset_ = reset_ || ending.reset;
  if (!received.ok() || scratch_.empty()) return received;
  if (greeting_.size() < 6) {
    greeting_.insert(greeting_.end(), scratch_.begin(),
                     scratch_.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(
                                            6 - greeting_.size(), scratch_.size())));
  }
  std::vector<std::uint8_t>* data = &scratch_;
  if (address_.rfc2217) {
    decoded_.clear();
    std::vector<std::uint8_t> answers;
    telnet_.Feed(scratch_.data(), scratch_.size(), &decoded_, &answers);
    data = &decoded_;
    if (!answers.empty()) {
      const Clock::time_point bound =
          Clock::now() + std::chrono::milliseconds(address_.connectTimeoutMs);
      if (PortResult sent = Put(answers.data(), answers.size(), bound); !sent.ok()) return sent;
    }
  }
  // A session keeps the newest bytes up to its limit; older ones beyond it
  // are counted and dropped.
  input_.insert(input_.end(), data->begin(), data->end());
  if (input_.size() > kInputLimit) {
    const std::size_t over = input_.size() - kInputLimit;
    dropped_ += over;
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(over));
  }
  return {};
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
  if (PortResult sent = Put(out, size, deadline); !sent.ok()) {
    unsent_ = true;
    if (reset_) sent.reason = Ended("reset the connection") + ": " + sent.reason;
    return sent;
  }
  written_ += count;
  // The server ends the session when it has read the bytes, but may drop
  // what its line has not sent yet (ser2net does): the session is held
  // until they are there and have had their time on the line.
  lineFreeAt_ = std::max(lineFreeAt_, Clock::now()) + roundTrip_ + LineTime(count, settings_) +
                kServerLineMargin;
  // A server that has already hung up is seen at once.
  if (PortResult pumped = Pump(Clock::time_point{}); !pumped.ok()) {
    unsent_ = true;
    return pumped;
  }
  if (closedByServer_ || reset_) {
    unsent_ = true;
    return {PortStatus::kIoError, Ended(reset_ ? "reset the connection" : "closed the connection") +
                                      ": the frame is not known to have reached the line"};
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
    if (PortResult sent = Put(scratch_.data(), scratch_.size(), deadline); !sent.ok()) {
      return sent;
    }
    while (telnet_.Purges() == before && !closedByServer_ && !reset_ && Clock::now() < deadline) {
      if (PortResult pumped = Pump(deadline); !pumped.ok()) return pumped;
    }
    if (telnet_.Purges() != before) return {};
  } else if (PortResult pumped = Pump(Clock::time_point{}); !pumped.ok()) {
    return pumped;
  }
  input_.clear();
  return {};
}

PortResult NetPort::EndSession() {
  // A write that failed has said so already; nothing else is owed.
  if (unsent_) return {};
  const bool owed = written_ > 0;
  const auto verdict = [&](std::string_view what) -> PortResult {
    if (!owed) return {};
    return {PortStatus::kIoError,
            Ended(what) + ": the frame is not known to have reached the line"};
  };
  if (owed) std::this_thread::sleep_until(lineFreeAt_);
  if (PortResult pumped = Pump(Clock::time_point{}); !pumped.ok()) return verdict(pumped.reason);
  if (reset_) return verdict("reset the connection");
  if (closedByServer_) return verdict("closed the connection before the frame was confirmed");
  if (!net_socket::HalfClose(handle_)) return verdict("could not be told the session ends");
  // The server ends its side once it has read everything before our end;
  // what it still sends is dropped.
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(address_.connectTimeoutMs);
  while (!closedByServer_ && !reset_ && Clock::now() < deadline) {
    if (PortResult pumped = Pump(deadline); !pumped.ok()) return verdict(pumped.reason);
    input_.clear();
  }
  // A reset right behind the server's end means it left bytes unread.
  if (closedByServer_ && !reset_) {
    if (PortResult pumped = Pump(Clock::time_point{}); !pumped.ok()) {
      return verdict(pumped.reason);
    }
  }
  if (reset_) return verdict("reset the connection");
  if (!closedByServer_) {
    return verdict("did not end the session in " + std::to_string(address_.connectTimeoutMs) +
                   " ms");
  }
  if (!address_.rfc2217 && LooksLikeTelnet(greeting_)) {
    std::string reason = Ended("greets with Telnet negotiation") +
                         ": the port looks like RFC 2217; use rfc2217://" + Where();
    RememberScheme(address_.name, reason);
    return {PortStatus::kIoError, std::move(reason)};
  }
  if (!address_.rfc2217 && !heardOut_) RememberScheme(address_.name, {});
  PortResult delivered;
  if (dropped_ > 0) {
    delivered.note = "dropped " + std::to_string(dropped_) + " bytes " + Where() +
                     " sent beyond the " + std::to_string(kInputLimit) + " a session keeps";
  }
  return delivered;
}

PortResult NetPort::Close() {
  if (!IsOpen()) return {};
  PortResult verdict = EndSession();
  net_socket::Close(handle_, unsent_ || !verdict.ok());
  handle_ = kNoHandle;
  input_.clear();
  lineFreeAt_ = {};
  return verdict;
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

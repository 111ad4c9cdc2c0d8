#include "platform/comm_control.h"

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "platform/wire_trace.h"

namespace vorne {

namespace {

using namespace comm_property;
using namespace comm_error;

[[noreturn]] void Raise(std::uint16_t code) {
  switch (code) {
    case kInvalidPropertyValue: throw COleDispatchException(code, "Invalid property value");
    case kPropertyReadOnly: throw COleDispatchException(code, "Property is read-only");
    case kPropertyWriteOnly: throw COleDispatchException(code, "Property is write-only");
    case kNotWhileOpen:
      throw COleDispatchException(code, "Operation not valid while the port is opened");
    case kInvalidPortNumber: throw COleDispatchException(code, "Invalid port number");
    case kPortAlreadyOpen: throw COleDispatchException(code, "Port already open");
    case kPortInUse: throw COleDispatchException(code, "The port is in use by another program");
    case kDeviceNotAvailable:
      throw COleDispatchException(code, "The port's device does not exist or cannot be opened");
    case kSettingsRefused:
      throw COleDispatchException(code, "The device does not take the line settings");
    case kPortNotOpen:
      throw COleDispatchException(code, "Operation valid only when the port is open");
    case kTransmitFailed: throw COleDispatchException(code, "Error writing to the port");
    case kReceiveFailed: throw COleDispatchException(code, "Error reading from the port");
    default:
      throw COleDispatchException(kNoSuchProperty,
                                  "Object doesn't support this property or method");
  }
}

VARIANT Short(std::int32_t value) {
  VARIANT answer;
  answer.vt = VT_I2;
  answer.intVal = static_cast<std::int16_t>(std::clamp<std::int32_t>(
      value, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
  return answer;
}

std::int32_t Integer(const VARIANT& value) {
  if (value.vt != VT_I2 && value.vt != VT_I4 && value.vt != VT_BOOL) Raise(kInvalidPropertyValue);
  return value.intVal;
}

class CommControl final : public HostedControl {
 public:
  ~CommControl() override { static_cast<void>(ClosePort()); }

  VARIANT GetProperty(DISPID id) override {
    switch (id) {
      case kCommPort: return Short(port_);
      case kInBufferCount: return Short(static_cast<std::int32_t>(Waiting()));
      case kInputLen: return Short(inputLen_);
      case kPortOpen: {
        VARIANT answer;
        answer.vt = VT_BOOL;
        answer.intVal = serial_.IsOpen() ? -1 : 0;
        return answer;
      }
      case kSettings: {
        VARIANT answer;
        answer.vt = VT_BSTR;
        const std::string text = FormatLineSettings(settings_);
        answer.bstrVal.assign(text.begin(), text.end());
        return answer;
      }
      // The buffer sizes and the threshold are taken and checked, but
      // nothing here depends on them: this control buffers in the system.
      case kInBufferSize:
      case kOutBufferSize:
      case kRThreshold:
      case kOutput: Raise(kPropertyWriteOnly);
      case kInput: return Input();
      case kInputMode: {
        VARIANT answer;
        answer.vt = VT_I4;
        answer.intVal = inputMode_;
        return answer;
      }
      default: Raise(kNoSuchProperty);
    }
  }

  void SetProperty(DISPID id, const VARIANT& value) override {
    switch (id) {
      case kCommPort: {
        const std::int32_t number = Integer(value);
        if (serial_.IsOpen()) Raise(kPortAlreadyOpen);
        if (number < 1 || number > 16) Raise(kInvalidPortNumber);
        port_ = number;
        return;
      }
      case kInBufferSize:
      case kOutBufferSize: CheckBufferSize(value); return;
      case kInBufferCount:
        // Only 0 is meaningful: it drops what was received.
        if (Integer(value) != 0) Raise(kInvalidPropertyValue);
        if (!serial_.IsOpen()) Raise(kPortNotOpen);
        if (!serial_.DiscardInput().ok()) Raise(kReceiveFailed);
        return;
      case kInputLen: inputLen_ = NonNegative(value); return;
      case kRThreshold: NonNegative(value); return;
      case kPortOpen:
        if (Integer(value) != 0) {
          if (serial_.IsOpen()) Raise(kPortAlreadyOpen);
          OpenPort();
        } else if (!ClosePort()) {
          // Closed all the same, but what was written did not arrive.
          Raise(kTransmitFailed);
        }
        return;
      case kSettings: SetSettings(value); return;
      case kOutput: Output(value); return;
      case kInput: Raise(kPropertyReadOnly);
      case kInputMode: {
        const std::int32_t mode = Integer(value);
        if (mode != 0 && mode != 1) Raise(kInvalidPropertyValue);
        inputMode_ = mode;
        return;
      }
      default: Raise(kNoSuchProperty);
    }
  }

 private:
  void CheckBufferSize(const VARIANT& value) const {
    // Buffers are sized before the port opens.
    if (serial_.IsOpen()) Raise(kNotWhileOpen);
    if (Integer(value) <= 0) Raise(kInvalidPropertyValue);
  }

  static std::int32_t NonNegative(const VARIANT& value) {
    const std::int32_t number = Integer(value);
    if (number < 0) Raise(kInvalidPropertyValue);
    return number;
  }

  void OpenPort() {
    // The trace is looked up once per open and kept until the close.
    trace_ = WireTrace::Current();
    const std::string device = SerialPort::DevicePath(port_);
    const PortResult opened = serial_.Open(device, settings_);
    if (!opened.ok()) {
      if (trace_ != nullptr) trace_->OpenFailed(port_, device, opened.reason);
      trace_ = nullptr;
      switch (opened.status) {
        case PortStatus::kBusy: Raise(kPortInUse);
        case PortStatus::kRefused: Raise(kSettingsRefused);
        default: Raise(kDeviceNotAvailable);
      }
    }
    if (trace_ != nullptr) trace_->Opened(port_, device, FormatLineSettings(settings_));
    if (trace_ != nullptr && !opened.note.empty()) trace_->Note(port_, opened.note);
  }

  // False when the port learnt at its close that the bytes written did
  // not reach the far end.
  bool ClosePort() noexcept {
    if (!serial_.IsOpen()) return true;
    const PortResult closed = serial_.Close();
    try {
      if (trace_ != nullptr) {
        if (!closed.ok()) trace_->Failed(port_, "delivery", closed.reason);
        if (!closed.note.empty()) trace_->Note(port_, closed.note);
        trace_->Closed(port_);
      }
    } catch (...) {
      // Closing must not fail over a trace line.
    }
    trace_ = nullptr;
    return closed.ok();
  }

  void SetSettings(const VARIANT& value) {
    if (value.vt != VT_BSTR) Raise(kInvalidPropertyValue);
    const std::optional<LineSettings> settings = ParseLineSettings(value.bstrVal);
    if (!settings) {
      // The module's log names only the rate; the trace says which text the
      // line could not take.
      if (trace_ != nullptr) {
        std::string text;
        for (char16_t c : value.bstrVal) text += c < 0x80 ? static_cast<char>(c) : '?';
        trace_->Failed(port_, "settings", "cannot use \"" + text + "\" on this line");
      }
      Raise(kInvalidPropertyValue);
    }
    if (serial_.IsOpen()) {
      // An open line takes the new settings at once; a refusal leaves the
      // old ones in force.
      const PortResult applied = serial_.Configure(*settings);
      if (!applied.ok()) {
        if (trace_ != nullptr) trace_->Failed(port_, "settings", applied.reason);
        Raise(kInvalidPropertyValue);
      }
      if (trace_ != nullptr && *settings != settings_) {
        trace_->Settings(port_, FormatLineSettings(*settings));
      }
      if (trace_ != nullptr && !applied.note.empty()) trace_->Note(port_, applied.note);
    }
    settings_ = *settings;
  }

  void Output(const VARIANT& value) {
    if (!serial_.IsOpen()) Raise(kPortNotOpen);
    std::vector<std::uint8_t> text;
    const std::vector<std::uint8_t>* bytes = &value.bytes;
    if (value.vt == VT_BSTR) {
      // Text goes out one byte per character.
      text.reserve(value.bstrVal.size());
      for (char16_t c : value.bstrVal) text.push_back(static_cast<std::uint8_t>(c));
      bytes = &text;
    } else if (value.vt != (VT_ARRAY | VT_UI1)) {
      Raise(kInvalidPropertyValue);
    }
    if (bytes->empty()) return;
    if (trace_ != nullptr) trace_->Out(port_, bytes->data(), bytes->size());
    const PortResult written = serial_.Write(bytes->data(), bytes->size());
    if (!written.ok()) {
      if (trace_ != nullptr) trace_->Failed(port_, "write", written.reason);
      Raise(kTransmitFailed);
    }
  }

  std::size_t Waiting() {
    if (!serial_.IsOpen()) Raise(kPortNotOpen);
    std::size_t count = 0;
    if (!serial_.Waiting(&count).ok()) Raise(kReceiveFailed);
    return count;
  }

  VARIANT Input() {
    std::size_t count = Waiting();
    if (inputLen_ > 0) count = std::min<std::size_t>(count, static_cast<std::size_t>(inputLen_));
    std::vector<std::uint8_t> bytes;
    const PortResult read = serial_.Read(count, &bytes);
    if (!read.ok()) {
      if (trace_ != nullptr) trace_->Failed(port_, "read", read.reason);
      Raise(kReceiveFailed);
    }
    if (trace_ != nullptr && !bytes.empty()) trace_->In(port_, bytes.data(), bytes.size());
    VARIANT answer;
    if (inputMode_ == 1) {
      answer.vt = VT_ARRAY | VT_UI1;
      answer.bytes = std::move(bytes);
    } else {
      answer.vt = VT_BSTR;
      answer.bstrVal.assign(bytes.begin(), bytes.end());
    }
    return answer;
  }

  SerialPort serial_;
  WireTrace* trace_ = nullptr;  // the process's trace while the port is open
  std::int32_t port_ = 1;
  std::int32_t inputLen_ = 0;
  std::int32_t inputMode_ = 0;
  LineSettings settings_;
};

}  // namespace

std::unique_ptr<HostedControl> MakeCommControl() { return std::make_unique<CommControl>(); }

}  // namespace vorne

#include "support/recording_control.h"

#include <algorithm>
#include <cstdio>

#include "platform/comm_control.h"

using namespace vorne;

namespace vorne_test {

namespace {

using State = RecordingControl::State;

std::string ValueText(vorne::DISPID id, const vorne::VARIANT& value) {
  switch (value.vt) {
    case vorne::VT_EMPTY: return "empty";
    case vorne::VT_BOOL: return value.intVal != 0 ? "true" : "false";
    case vorne::VT_I2:
    case vorne::VT_I4:
      // The open state goes over as a boolean; show other numbers as such.
      if (id == comm_property::kPortOpen) return value.intVal != 0 ? "true" : "false";
      return std::to_string(value.intVal);
    case vorne::VT_BSTR: {
      std::string text = "\"";
      for (char16_t c : value.bstrVal) text += c < 0x80 ? static_cast<char>(c) : '?';
      return text + "\"";
    }
    case vorne::VT_ARRAY | vorne::VT_UI1: {
      std::string text = "[";
      char byte[4];
      for (std::size_t i = 0; i < value.bytes.size(); ++i) {
        std::snprintf(byte, sizeof(byte), i == 0 ? "%02X" : " %02X", value.bytes[i]);
        text += byte;
      }
      return text + "]";
    }
    default: return "vt " + std::to_string(value.vt);
  }
}

class Recorder final : public HostedControl {
 public:
  explicit Recorder(std::shared_ptr<State> state) : state_(std::move(state)) {
    ++state_->created;
    ++state_->alive;
  }
  ~Recorder() override { --state_->alive; }

  vorne::VARIANT GetProperty(vorne::DISPID id) override {
    vorne::VARIANT answer = Answer(id);
    Record(CallKind::kGet, id, answer);
    return answer;
  }

  void SetProperty(vorne::DISPID id, const vorne::VARIANT& value) override {
    Record(CallKind::kPut, id, value);
    state_->lastPut[id] = value;
  }

 private:
  vorne::VARIANT Answer(vorne::DISPID id) {
    if (auto queued = state_->once.find(id);
        queued != state_->once.end() && !queued->second.empty()) {
      vorne::VARIANT answer = std::move(queued->second.front());
      queued->second.pop_front();
      return answer;
    }
    if (auto fixed = state_->answers.find(id); fixed != state_->answers.end()) return fixed->second;
    if (id == comm_property::kInBufferCount)
      return ShortVariant(static_cast<std::int16_t>(state_->input.size()));
    if (id == comm_property::kInput) {
      std::size_t count = state_->input.size();
      if (auto length = state_->lastPut.find(comm_property::kInputLen);
          length != state_->lastPut.end() && length->second.intVal > 0) {
        count = std::min<std::size_t>(count, static_cast<std::size_t>(length->second.intVal));
      }
      std::vector<std::uint8_t> bytes(state_->input.begin(),
                                      state_->input.begin() + static_cast<std::ptrdiff_t>(count));
      state_->input.erase(state_->input.begin(),
                          state_->input.begin() + static_cast<std::ptrdiff_t>(count));
      return ByteVariant(bytes);
    }
    if (auto put = state_->lastPut.find(id); put != state_->lastPut.end()) return put->second;
    if (id == comm_property::kPortOpen) return BoolVariant(false);
    return ShortVariant(0);
  }

  void Record(CallKind kind, vorne::DISPID id, const vorne::VARIANT& value) {
    state_->calls.push_back(PropertyCall{kind, id, value});
    for (RecordingControl::Failure& failure : state_->failures) {
      if (failure.kind != kind || failure.id != id || failure.times == 0) continue;
      if (failure.skip > 0) {
        --failure.skip;
        continue;
      }
      if (failure.times > 0) --failure.times;
      throw COleDispatchException(failure.code, failure.text);
    }
    if (state_->hook) state_->hook(state_->calls.back());
  }

  std::shared_ptr<State> state_;
};

}  // namespace

std::string PropertyCall::ToString() const {
  if (kind == CallKind::kGet) return "get " + std::to_string(id);
  return "put " + std::to_string(id) + " = " + ValueText(id, value);
}

RecordingControl::RecordingControl() : state_(std::make_shared<State>()) {
  std::shared_ptr<State> state = state_;
  previous_ = RegisterControlClass(CLSID_CommControl, [state]() -> std::unique_ptr<HostedControl> {
    if (state->throwOnCreation) throw COleDispatchException(429, "Cannot create the control");
    if (state->refuseCreation) return nullptr;
    return std::make_unique<Recorder>(state);
  });
}

RecordingControl::~RecordingControl() { RegisterControlClass(CLSID_CommControl, previous_); }

std::vector<std::string> RecordingControl::Calls() const {
  std::vector<std::string> text;
  text.reserve(state_->calls.size());
  for (const PropertyCall& call : state_->calls) text.push_back(call.ToString());
  return text;
}

void RecordingControl::QueueInput(const std::vector<std::uint8_t>& bytes) {
  state_->input.insert(state_->input.end(), bytes.begin(), bytes.end());
}

void RecordingControl::FailOn(CallKind kind, vorne::DISPID id, int skip, int times,
                              std::uint16_t code, std::string text) {
  state_->failures.push_back(Failure{kind, id, skip, times, code, std::move(text)});
}

vorne::VARIANT ByteVariant(const std::vector<std::uint8_t>& bytes) {
  vorne::VARIANT value;
  value.vt = vorne::VT_ARRAY | vorne::VT_UI1;
  value.bytes = bytes;
  return value;
}

vorne::VARIANT ShortVariant(std::int16_t value) {
  vorne::VARIANT variant;
  variant.vt = vorne::VT_I2;
  variant.intVal = value;
  return variant;
}

vorne::VARIANT BoolVariant(bool value) {
  vorne::VARIANT variant;
  variant.vt = vorne::VT_BOOL;
  variant.intVal = value ? -1 : 0;
  return variant;
}

}  // namespace vorne_test

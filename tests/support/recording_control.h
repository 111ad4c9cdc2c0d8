// A control that records every property call, registered in place of the
// communications control, so tests see the exact calls a controller makes
// and can script its answers and errors.
#ifndef VORNE_TESTS_SUPPORT_RECORDING_CONTROL_H
#define VORNE_TESTS_SUPPORT_RECORDING_CONTROL_H

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/control.h"
#include "platform/variant.h"

namespace vorne_test {

using namespace vorne;

enum class CallKind { kGet, kPut };

// The control calls with which a serial driver opens a closed port
// `port` at `settings` ("9600,n,8,1"), as PropertyCall::ToString shows them.
inline std::vector<std::string> OpenSequence(int port, const std::string& settings) {
  return {"get 20",        "put 4 = " + std::to_string(port),
          "put 11 = 1024", "put 17 = 512",
          "get 20",        "put 20 = true",
          "put 29 = 1",    "put 23 = \"" + settings + "\"",
          "put 21 = 1",    "put 14 = 0"};
}

struct PropertyCall {
  CallKind kind;
  vorne::DISPID id;
  vorne::VARIANT value;  // the value put, or the answer given to a get

  // "get 20", "put 4 = 2", "put 20 = true", "put 23 = \"9600,n,8,1\"",
  // "put 25 = [FF 01 00]".
  std::string ToString() const;
};

// While it lives, every communications control the module makes is a
// recording one reporting here; the real control comes back when it ends.
// Without scripting, a read answers what was last put to that property
// (open state false, received count 0, received data an empty byte array
// until then).
class RecordingControl {
 public:
  RecordingControl();
  ~RecordingControl();
  RecordingControl(const RecordingControl&) = delete;
  RecordingControl& operator=(const RecordingControl&) = delete;

  // Every call so far, in order, as ToString() text.
  std::vector<std::string> Calls() const;
  const std::vector<PropertyCall>& RawCalls() const { return state_->calls; }
  void ClearCalls() { state_->calls.clear(); }

  // Answers every later read of `id` with `value`.
  void Answer(vorne::DISPID id, vorne::VARIANT value) { state_->answers[id] = std::move(value); }
  // Queues answers for the next reads of `id`, used before any Answer.
  void AnswerOnce(vorne::DISPID id, vorne::VARIANT value) {
    state_->once[id].push_back(std::move(value));
  }
  // Bytes the "camera" sent: the received count answers how many wait,
  // the received data hands them out (all of them, or the read length).
  void QueueInput(const std::vector<std::uint8_t>& bytes);

  // Makes calls of `kind` to `id` raise the control error `code`: the
  // first `skip` matching calls pass, then `times` calls fail (-1: all).
  void FailOn(CallKind kind, vorne::DISPID id, int skip = 0, int times = -1,
              std::uint16_t code = 8002, std::string text = "Invalid port number");
  void ClearFailures() { state_->failures.clear(); }

  // Runs after each recorded call that did not fail (e.g. to answer a put
  // of output with a reply).
  void OnCall(std::function<void(const PropertyCall&)> hook) { state_->hook = std::move(hook); }

  // Creation: refused (the factory answers null) or raising an error.
  void RefuseCreation(bool refuse) { state_->refuseCreation = refuse; }
  void ThrowOnCreation(bool raise) { state_->throwOnCreation = raise; }

  int ControlsCreated() const { return state_->created; }
  int ControlsAlive() const { return state_->alive; }

  struct Failure {
    CallKind kind;
    vorne::DISPID id;
    int skip;
    int times;
    std::uint16_t code;
    std::string text;
  };
  struct State {
    std::vector<PropertyCall> calls;
    std::map<vorne::DISPID, vorne::VARIANT> answers;
    std::map<vorne::DISPID, std::deque<vorne::VARIANT>> once;
    std::map<vorne::DISPID, vorne::VARIANT> lastPut;
    std::vector<std::uint8_t> input;
    std::vector<Failure> failures;
    std::function<void(const PropertyCall&)> hook;
    bool refuseCreation = false;
    bool throwOnCreation = false;
    int created = 0;
    int alive = 0;
  };

 private:
  std::shared_ptr<State> state_;
  ControlFactory previous_;
};

// A byte-array variant.
vorne::VARIANT ByteVariant(const std::vector<std::uint8_t>& bytes);
// A 16-bit integer variant.
vorne::VARIANT ShortVariant(std::int16_t value);
// A boolean variant.
vorne::VARIANT BoolVariant(bool value);

}  // namespace vorne_test

#endif

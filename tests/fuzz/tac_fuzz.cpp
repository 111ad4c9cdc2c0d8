// The TAC exchange on a virtual clock: any answer, arriving at any time,
// from any starting tick (the 32-bit wrap included), with any of the
// control's reads or writes failing. The request on the wire is always the
// right 11 bytes, the wait stays within its bound, the port is closed at
// the end, no exception escapes, and the result follows the answer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/app.h"
#include "platform/clock.h"
#include "platform/comm_control.h"
#include "platform/window.h"
#include "protocols/tac.h"
#include "support/recording_control.h"

using namespace vorne;

namespace {

using vorne_test::CallKind;
using vorne_test::PropertyCall;
using vorne_test::RecordingControl;

std::uint32_t now = 0;
std::uint32_t VirtualTick() { return now; }
void VirtualSleep(std::uint32_t ms) { now += ms == 0 ? 1 : ms; }

void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

// The last two bytes are the uppercase hex digits of the sum of the first nine.
bool ChecksumHolds(const std::vector<std::uint8_t>& message) {
  if (message.size() != 11) return false;
  unsigned sum = 0;
  for (std::size_t i = 0; i < 9; ++i) sum += message[i];
  static constexpr char kHex[] = "0123456789ABCDEF";
  return message[9] == kHex[(sum >> 4) & 0xF] && message[10] == kHex[sum & 0xF];
}

bool RightRequest(const std::vector<std::uint8_t>& message) {
  return ChecksumHolds(message) && message[0] == '*';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  static const bool ready = [] {
    AfxEnableControlContainer();
    SetTickSource(&VirtualTick);
    SetSleepSink(&VirtualSleep);
    return true;
  }();
  (void)ready;
  now = static_cast<std::uint32_t>(data[0]) << 24 | static_cast<std::uint32_t>(data[1]) << 16 |
        static_cast<std::uint32_t>(data[2]) << 8 | data[3];
  const std::uint8_t failure = data[4];
  const bool never = data[5] == 255;
  const std::uint32_t arriveAfter = data[5];
  const std::size_t count = data[6] % 32;
  const int command = data[7] % 7;
  std::vector<std::uint8_t> answer(data + 8, data + size);
  answer.resize(count, '0');

  RecordingControl control;  // outlives the driver's control
  std::uint32_t sentAt = 0;
  bool sent = false;
  bool delivered = false;
  control.OnCall([&](const PropertyCall& call) {
    if (call.kind == CallKind::kPut && call.id == comm_property::kOutput && !sent) {
      sent = true;
      sentAt = now;
    }
    if (sent && !delivered && !never && now - sentAt >= arriveAfter) {
      delivered = true;
      control.QueueInput(answer);
    }
  });
  const int skip = failure / 4 % 8;
  switch (failure % 4) {
    case 1: control.FailOn(CallKind::kGet, comm_property::kInBufferCount, skip, 1); break;
    case 2: control.FailOn(CallKind::kGet, comm_property::kInput, 0, 1); break;
    case 3: control.FailOn(CallKind::kPut, comm_property::kOutput, 0, 1); break;
    default: break;
  }

  int result = -1;
  std::uint32_t elapsed = 0;
  {
    TacController tac;
    Require(tac.Init(CWnd::FromHandle(reinterpret_cast<HWND>(0x7AC1)), 0) != 0, "init");
    tac.SetComPort(0);
    const std::uint32_t begin = now;
    switch (command) {
      case 0: tac.Stop(); break;
      case 1: result = tac.PanLeft(); break;
      case 2: result = tac.PanRight(); break;
      case 3: result = tac.TiltUp(); break;
      case 4: result = tac.TiltDown(); break;
      case 5: result = tac.ZoomIn(); break;
      default: result = tac.ZoomOut(); break;
    }
    elapsed = now - begin;

    std::vector<std::vector<std::uint8_t>> requests;
    bool open = false;
    for (const PropertyCall& call : control.RawCalls()) {
      if (call.kind != CallKind::kPut) continue;
      if (call.id == comm_property::kOutput) requests.push_back(call.value.bytes);
      if (call.id == comm_property::kPortOpen) open = call.value.intVal != 0;
    }
    Require(requests.size() == 1 && RightRequest(requests[0]), "one right request on the wire");
    Require(!open, "the port is closed after the exchange");
    // A first sleep, the 200 ms wait and a last poll.
    Require(elapsed <= 2 + 200 + 2 + 2, "the wait stays within its bound");
    control.OnCall({});
    control.ClearFailures();
    control.QueueInput(std::vector<std::uint8_t>(11, 0));  // the destructor's stop, answered
  }
  if (command != 0 && failure % 4 == 0 && (never || arriveAfter > 190)) {
    Require(result == 0 || (!never && arriveAfter <= 205), "no answer in time fails");
  }
  if (command != 0 && failure % 4 == 0 && !never && arriveAfter < 190) {
    const bool rightAnswer = ChecksumHolds(answer);
    Require(result == (count > 11 || rightAnswer ? 1 : 0), "the result follows the answer");
  }
  return 0;
}

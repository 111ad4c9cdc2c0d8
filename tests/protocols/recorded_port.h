// A driver on port 1 whose port is a recording control, and the calls one
// exchange with the camera makes of that control.
#ifndef VORNE_TESTS_PROTOCOLS_RECORDED_PORT_H
#define VORNE_TESTS_PROTOCOLS_RECORDED_PORT_H

#include <chrono>
#include <string>
#include <vector>

#include "platform/app.h"
#include "platform/comm_control.h"
#include "support/module_fixture.h"
#include "support/pty_pair.h"
#include "support/recording_control.h"

namespace vorne_test {

using namespace vorne;

using Lines = std::vector<std::string>;

inline CWnd* Parent() { return CWnd::FromHandle(reinterpret_cast<HWND>(0x7AC0)); }

// The calls of one exchange on port 1 from a closed port: open, put
// `message`, `reads`, close.
inline Lines Exchange(const Bytes& message, const Lines& reads) {
  Lines calls = OpenSequence(1, "9600,n,8,1");
  calls.push_back("put 25 = [" + Hex(message) + "]");
  calls.insert(calls.end(), reads.begin(), reads.end());
  calls.insert(calls.end(), {"get 20", "put 20 = false"});
  return calls;
}

template <typename F>
std::chrono::milliseconds Timed(F&& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start);
}

template <typename Driver>
class RecordedPortTest : public InProcessTest {
 protected:
  void SetUp() override {
    InProcessTest::SetUp();
    AttachLog();
    ASSERT_NE(driver_.Init(Parent(), 0), 0);
    ASSERT_EQ(driver_.SetComPort(0), 1);
    control_.ClearCalls();
    host_.ClearLines();
  }

  // The messages put to the port so far.
  std::vector<Bytes> Sent() const {
    std::vector<Bytes> sent;
    for (const PropertyCall& call : control_.RawCalls()) {
      if (call.kind == CallKind::kPut && call.id == comm_property::kOutput) {
        sent.push_back(call.value.bytes);
      }
    }
    return sent;
  }

  RecordingControl control_;  // outlives the driver and its control
  Driver driver_;
};

}  // namespace vorne_test

#endif

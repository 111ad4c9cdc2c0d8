// A TAC camera on the master end of a pseudo-terminal: it reads each
// 11-byte message the driver sends and answers with whatever the test
// asks for, on a thread of its own.
#ifndef VORNE_TESTS_PROTOCOLS_TAC_PEER_H
#define VORNE_TESTS_PROTOCOLS_TAC_PEER_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/pty_pair.h"

namespace vorne_test {

// `nine` followed by the two uppercase hex digits of its 8-bit sum: the
// checksum worked out apart from the driver's own code.
inline Bytes TacWithChecksum(Bytes nine) {
  unsigned sum = 0;
  for (std::uint8_t b : nine) sum += b;
  char digits[3];
  std::snprintf(digits, sizeof(digits), "%02X", sum & 0xFFu);
  nine.push_back(static_cast<std::uint8_t>(digits[0]));
  nine.push_back(static_cast<std::uint8_t>(digits[1]));
  return nine;
}

// A well-formed answer: start mark, "00", a body of "0"s, right checksum.
inline Bytes TacGoodReply() {
  return TacWithChecksum({'*', '0', '0', '7', '5', '0', '0', '0', '0'});
}

class TacPeer {
 public:
  // Maps a received message to the answer (empty: stay silent). Runs on
  // the peer's thread and may write to the pty itself, e.g. in pieces.
  using Answer = std::function<Bytes(const Bytes& request)>;

  TacPeer(PtyPair& pty, Answer answer) : pty_(pty), answer_(std::move(answer)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~TacPeer() {
    stop_ = true;
    thread_.join();
  }
  TacPeer(const TacPeer&) = delete;
  TacPeer& operator=(const TacPeer&) = delete;

  // Every complete message received so far.
  std::vector<Bytes> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  void ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
  }
  // Waits until `count` messages came or `timeout` passed.
  bool WaitForRequests(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Requests().size() >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return Requests().size() >= count;
  }

 private:
  static constexpr std::size_t kMessage = 11;

  void Run() {
    Bytes pending;
    while (!stop_) {
      const Bytes got = pty_.ReadMaster(kMessage - pending.size(), std::chrono::milliseconds(20));
      pending.insert(pending.end(), got.begin(), got.end());
      if (pending.size() < kMessage) continue;
      Bytes request(pending.begin(), pending.begin() + kMessage);
      pending.erase(pending.begin(), pending.begin() + kMessage);
      {
        // Kept before answering, so a driver that got its answer finds its
        // message here.
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
      }
      const Bytes answer = answer_(request);
      if (!answer.empty()) pty_.WriteMaster(answer);
    }
  }

  PtyPair& pty_;
  Answer answer_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<Bytes> requests_;
  std::thread thread_;
};

}  // namespace vorne_test

#endif

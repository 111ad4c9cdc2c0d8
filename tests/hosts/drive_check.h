// Runs a host program against a simulated Pelco-D camera on COM1 and checks
// what reached the camera: a pan left and a stop, every checksum right, the
// camera stopped at the end.
#ifndef VORNE_TESTS_HOSTS_DRIVE_CHECK_H
#define VORNE_TESTS_HOSTS_DRIVE_CHECK_H

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "../tools/run_program.h"
#include "sim/runner.h"

namespace vorne_test {

inline bool AnyFrameMeans(const std::vector<sim::Event>& frames, const std::string& words) {
  for (const sim::Event& e : frames) {
    if (e.kind == sim::Event::Kind::kFrame && e.meaning.find(words) != std::string::npos) {
      return true;
    }
  }
  return false;
}

// The program's result, after checking the camera's side.
inline ProgramResult DrivePelcoCamera(const std::string& program,
                                      const std::vector<std::string>& args) {
  using namespace std::chrono_literals;
  auto camera = sim::Runner::OnPty(sim::Protocol::kPelcoD);
  const ProgramResult result = RunProgram(program, args, {{"VORNE_COM1", camera->Path()}});
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("Set Control COM Port 1.\n"), std::string::npos)
      << "the module's log lines reach the host's sink\n"
      << result.out;
  EXPECT_TRUE(camera->WaitFor(
      [](const std::vector<sim::Event>& events) { return AnyFrameMeans(events, "stop"); }, 5s));
  std::this_thread::sleep_for(150ms);  // let the line go quiet
  EXPECT_TRUE(AnyFrameMeans(camera->Frames(), "pan left"));
  for (const sim::Event& e : camera->Events()) {
    EXPECT_NE(e.kind, sim::Event::Kind::kGarbage) << e.meaning;
    EXPECT_NE(e.check.verdict, sim::Check::Verdict::kBad) << e.meaning;
  }
  EXPECT_FALSE(camera->State().Moving()) << camera->State().Describe();
  return result;
}

}  // namespace vorne_test

#endif

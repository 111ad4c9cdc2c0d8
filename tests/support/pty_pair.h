// A pseudo-terminal standing in for a serial line: the test holds the
// master (the "camera" end) and one slave descriptor for its whole life, so
// the module's own opens and closes of the slave never hang up the line.
#ifndef VORNE_TESTS_SUPPORT_PTY_PAIR_H
#define VORNE_TESTS_SUPPORT_PTY_PAIR_H

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorne_test {

using Bytes = std::vector<std::uint8_t>;

class PtyPair {
 public:
  // How the line starts. kRaw passes every byte as it is; kCooked is a
  // user's terminal (lines, echo, 0A out as 0D 0A, Ctrl-C a signal), so a
  // program that must make the line raw is seen when it does not.
  enum class Line { kRaw, kCooked };

  // Opens the pair; Ok() tells whether it worked, Error() why not.
  explicit PtyPair(Line line = Line::kRaw);
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return master_ >= 0 && slave_ >= 0 && error_.empty(); }
  const std::string& Error() const { return error_; }

  // The slave's device path, as the module opens it.
  const std::string& SlavePath() const { return slavePath_; }

  // Reads from the master until `count` bytes came or `timeout` passed;
  // returns what came.
  Bytes ReadMaster(std::size_t count,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
  // Whatever arrives within `quiet`; use it to check that nothing came.
  Bytes ReadAvailable(std::chrono::milliseconds quiet = std::chrono::milliseconds(100));
  // Sends bytes from the camera end to the module's end.
  bool WriteMaster(const Bytes& bytes);
  // Types `keys` at the terminal (the master end).
  bool Type(const std::string& keys) { return WriteMaster(Bytes(keys.begin(), keys.end())); }
  // Closes both of the test's ends: with the master gone the terminal hangs
  // up on whoever still has the slave open.
  void HangUp();

  // The slave line's settings as the driver holds them now.
  std::optional<termios> SlaveTermios() const;
  // The slave line's baud rate in bits per second (0 when unknown).
  int SlaveBaud() const;

  int MasterFd() const { return master_; }
  int SlaveFd() const { return slave_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  std::string error_;
};

// Sets (or with nullopt, removes) an environment variable for the object's
// life, and restores what was there before.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// Points the module's port `number` at `device` (VORNE_COM<number>).
class ScopedComPort : public ScopedEnv {
 public:
  ScopedComPort(int number, const std::string& device)
      : ScopedEnv("VORNE_COM" + std::to_string(number), device) {}
};

// "FF 01 00 04" for log and failure messages.
std::string Hex(const Bytes& bytes);

}  // namespace vorne_test

#endif

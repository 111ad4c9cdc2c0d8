// Programs run by the tests as users run them: with their output streams on
// pipes or in files, or leading a session of their own on a terminal. Tests
// are threaded, so everything the child needs is built before the fork and
// the child only rearranges descriptors before it runs the program.
#ifndef VORNE_TESTS_SUPPORT_CHILD_PROCESS_H
#define VORNE_TESTS_SUPPORT_CHILD_PROCESS_H

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vorne_test {

// Where one of the child's output streams goes.
enum class Stream {
  kNull,  // /dev/null
  kPipe,  // a pipe the test reads while the program runs
  kFile,  // an unnamed file the test reads whenever it likes; a program
          // that writes much never blocks on a test that reads late
};

// What to run and how: ChildCommand(path, args).Env(...).Err(Stream::kNull).
struct ChildCommand {
  explicit ChildCommand(std::string program, std::vector<std::string> arguments = {})
      : path(std::move(program)), args(std::move(arguments)) {}
  ChildCommand& Env(std::map<std::string, std::string> extra) {
    env = std::move(extra);
    return *this;
  }
  ChildCommand& Out(Stream stream) {
    out = stream;
    return *this;
  }
  ChildCommand& Err(Stream stream) {
    err = stream;
    return *this;
  }
  ChildCommand& OnTerminal(std::string device) {
    terminal = std::move(device);
    return *this;
  }
  // Runs the program as `uid` and `gid` with no other groups (a test
  // running as root, seeing what a user sees).
  ChildCommand& As(uid_t uid, gid_t gid) {
    user = static_cast<long long>(uid);
    group = gid;
    return *this;
  }

  std::string path;
  std::vector<std::string> args;           // after the program's own name
  std::map<std::string, std::string> env;  // set over the test's environment
  Stream out = Stream::kPipe;
  Stream err = Stream::kPipe;
  // When set: the program leads a new session with this terminal as its
  // controlling terminal and its three standard streams (out and err are
  // then not used). Otherwise standard input is /dev/null.
  std::string terminal;
  long long user = -1;  // -1: as the test
  gid_t group = 0;
};

struct ChildExit {
  int code = -1;   // the exit code; -1 when the program did not exit itself
  int signal = 0;  // the signal that ended it; 0 when none did
  // As a shell reports it: the code, or 128 + n when signal n ended it.
  int ShellCode() const { return signal != 0 ? 128 + signal : code; }
};

// Reads a stream the test holds (a pipe's read end, a file, a terminal's
// master) into text; does not own the descriptor.
class OutputReader {
 public:
  explicit OutputReader(int fd = -1) : fd_(fd) {}

  // Reads until `text` is among what came, the stream ends or `timeout`
  // passes; whether `text` came.
  bool WaitFor(const std::string& text, std::chrono::milliseconds timeout);
  // The next line without its newline, or "" when none came within
  // `timeout`.
  std::string NextLine(std::chrono::milliseconds timeout);
  // Everything up to the stream's end: a pipe or terminal whose writers are
  // all gone (or `timeout`), a file's present end.
  const std::string& ReadToEnd(
      std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
  // All that was read so far.
  const std::string& Text() const { return text_; }
  // Forgets the descriptor (the test closed it) and keeps the text.
  void Detach();

 private:
  // Reads what is there, waiting until `deadline` for it; false when
  // nothing more can come before then.
  bool ReadSome(std::chrono::steady_clock::time_point deadline);
  bool IsFile() const;
  // Reads more of a file; false at its present end.
  bool ReadFile();

  int fd_ = -1;
  std::string text_;
  std::size_t lineStart_ = 0;
  std::size_t fileOffset_ = 0;  // files are read with pread: the child shares the offset
  bool ended_ = false;
};

class ChildProcess {
 public:
  // Starts the program; Error() says why when it could not.
  explicit ChildProcess(ChildCommand command);
  // A program still running is killed and reaped.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0 && error_.empty(); }
  // Why the program did not start: no such program, no pipe, ...
  const std::string& Error() const { return error_; }
  pid_t Pid() const { return pid_; }

  void Signal(int number);
  // Waits for the end; a program still running after `bound` is killed
  // (and the result says so by its signal). Later calls return the same.
  ChildExit Wait(std::chrono::milliseconds bound = std::chrono::milliseconds(60000));
  bool Running() const { return pid_ > 0 && !reaped_; }

  // The test's side of the output streams (with Stream::kPipe or kFile).
  OutputReader& Out() { return out_; }
  OutputReader& Err() { return err_; }
  // Closes the test's end of the output pipe, as `| head -1` does once it
  // has its line.
  void CloseOut();

 private:
  struct Capture {
    int test = -1;   // the test's end
    int child = -1;  // the descriptor the child takes as its stream
  };
  Capture Open(Stream stream, const char* name);

  pid_t pid_ = -1;
  bool reaped_ = false;
  ChildExit exit_;
  std::string error_;
  Capture outCapture_;
  Capture errCapture_;
  OutputReader out_;
  OutputReader err_;
};

}  // namespace vorne_test

#endif

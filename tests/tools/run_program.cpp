#include "run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vorne_test {

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env) {
  char outPath[] = "/tmp/vorne-run-out-XXXXXX";
  char errPath[] = "/tmp/vorne-run-err-XXXXXX";
  const int outFd = mkstemp(outPath);
  const int errFd = mkstemp(errPath);
  ProgramResult result;
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  close(outFd);
  close(errFd);
  result.out = Slurp(outPath);
  result.err = Slurp(errPath);
  unlink(outPath);
  unlink(errPath);
  return result;
}

RunningProgram::RunningProgram(const std::string& path, const std::vector<std::string>& args,
                               const std::map<std::string, std::string>& env, Output output) {
  int pipeFds[2] = {-1, -1};
  std::string terminal;
  if (output == Output::kTerminal) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    terminal = ptsname(master_);
    slave_ = open(terminal.c_str(), O_RDWR | O_NOCTTY);
  } else if (pipe(pipeFds) == 0) {
    master_ = pipeFds[0];
  }
  pid_ = fork();
  if (pid_ == 0) {
    // The test's ends stay with the test: a copy here would keep the pipe's
    // reader or the terminal alive.
    close(master_);
    if (slave_ >= 0) close(slave_);
    setsid();
    if (output == Output::kTerminal) {
      const int tty = open(terminal.c_str(), O_RDWR);  // becomes the controlling terminal
      dup2(tty, 0);
      dup2(tty, 1);
      dup2(tty, 2);
    } else {
      const int in = open("/dev/null", O_RDWR);
      dup2(in, 0);
      dup2(pipeFds[1], 1);
      dup2(in, 2);
    }
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  if (pipeFds[1] >= 0) close(pipeFds[1]);
}

RunningProgram::~RunningProgram() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (master_ >= 0) close(master_);
  if (slave_ >= 0) close(slave_);
}

bool RunningProgram::WaitFor(const std::string& text) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (screen_.find(text) == std::string::npos && master_ >= 0 &&
         std::chrono::steady_clock::now() < end) {
    pollfd pfd{master_, POLLIN, 0};
    if (poll(&pfd, 1, 100) > 0) {
      char buffer[512];
      const ssize_t n = read(master_, buffer, sizeof(buffer));
      if (n > 0) screen_.append(buffer, static_cast<std::size_t>(n));
      if (n <= 0) break;
    }
  }
  return screen_.find(text) != std::string::npos;
}

void RunningProgram::Type(const std::string& keys) {
  if (write(master_, keys.data(), keys.size()) < 0) screen_ += "[typing failed]";
}

void RunningProgram::Signal(int number) { kill(pid_, number); }

void RunningProgram::CloseOutput() {
  close(master_);
  master_ = -1;
  // Without the test's copy of the terminal the program's own ends are the
  // last, so the terminal really hangs up.
  if (slave_ >= 0) close(slave_);
  slave_ = -1;
}

int RunningProgram::Wait() {
  int status = 0;
  if (waitpid(pid_, &status, 0) != pid_) return -1;
  pid_ = -1;
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

bool RunningProgram::TerminalModes(unsigned* localFlags) const {
  termios modes{};
  if (slave_ < 0 || tcgetattr(slave_, &modes) != 0) return false;
  *localFlags = modes.c_lflag;
  return true;
}

}  // namespace vorne_test

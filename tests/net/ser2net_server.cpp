#include "ser2net_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace vorne_test {

sockaddr_in Loopback(int port) {
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(static_cast<std::uint16_t>(port));
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return at;
}

namespace {

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in at = Loopback(port);
  const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&at), sizeof(at)) == 0;
  close(fd);
  return ok;
}

}  // namespace

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at = Loopback(0);
  socklen_t size = sizeof(at);
  bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof(at));
  getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size);
  close(fd);
  return ntohs(at.sin_port);
}

Ser2net::Ser2net(const std::vector<Line>& lines, const std::string& serial) : lines_(lines) {
  char pattern[] = "/tmp/vorne-ser2net-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    error_ = "cannot make a directory";
    return;
  }
  dir_ = pattern;
  const std::string config = dir_ + "/ser2net.yaml";
  {
    std::ofstream out(config);
    out << "%YAML 1.1\n---\n";
    for (std::size_t i = 0; i < lines.size(); ++i) {
      // Free ports asked for one after another can be the same one.
      int port = FreeLoopbackPort();
      while (std::find(ports_.begin(), ports_.end(), port) != ports_.end()) {
        port = FreeLoopbackPort();
      }
      ports_.push_back(port);
      out << "connection: &line" << i << "\n"
          << "  accepter: " << (lines[i].rfc2217 ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1,"
          << ports_[i] << "\n"
          << "  connector: serialdev," << lines[i].device << "," << serial << ",local\n"
          << "  options:\n    kickolduser: false\n";
    }
  }
  const std::string log = dir_ + "/ser2net.log";
  pid_ = fork();
  if (pid_ == 0) {
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(out, 2);
    execlp("ser2net", "ser2net", "-n", "-d", "-c", config.c_str(), static_cast<char*>(nullptr));
    // Debian installs it in /usr/sbin, which an ordinary user's PATH lacks.
    execl("/usr/sbin/ser2net", "ser2net", "-n", "-d", "-c", config.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (std::size_t i = 0; i < ports_.size(); ++i) {
    while (!Accepts(ports_[i])) {
      if (std::chrono::steady_clock::now() > end || waitpid(pid_, nullptr, WNOHANG) == pid_) {
        std::ifstream in(log);
        error_ = "ser2net did not come up: " +
                 std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  // The probes' sessions end before the first real client comes.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

Ser2net::~Ser2net() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  if (!dir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
}

std::string Ser2net::Url(std::size_t index) const {
  return std::string(lines_[index].rfc2217 ? "rfc2217://" : "tcp://") +
         "127.0.0.1:" + std::to_string(ports_[index]);
}

}  // namespace vorne_test

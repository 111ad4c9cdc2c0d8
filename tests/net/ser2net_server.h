// ser2net, the Debian device server, run in the foreground on loopback
// with a generated configuration: one accepter per terminal, raw or
// RFC 2217, each on a free port. Killed when the object goes.
#ifndef VORNE_TESTS_NET_SER2NET_SERVER_H
#define VORNE_TESTS_NET_SER2NET_SERVER_H

#include <netinet/in.h>

#include <string>
#include <vector>

namespace vorne_test {

// 127.0.0.1:`port`.
sockaddr_in Loopback(int port);

// A loopback port nobody listens on at the moment.
int FreeLoopbackPort();

class Ser2net {
 public:
  struct Line {
    std::string device;
    bool rfc2217 = false;
  };
  // Starts ser2net and waits until every accepter takes connections;
  // Error() says why not. `serial` is the line the server sets up on each
  // open ("19200n81").
  explicit Ser2net(const std::vector<Line>& lines, const std::string& serial = "19200n81");
  ~Ser2net();
  Ser2net(const Ser2net&) = delete;
  Ser2net& operator=(const Ser2net&) = delete;

  const std::string& Error() const { return error_; }
  // "tcp://127.0.0.1:PORT" or "rfc2217://127.0.0.1:PORT" of line `index`.
  std::string Url(std::size_t index) const;

 private:
  std::vector<Line> lines_;
  std::vector<int> ports_;
  std::string dir_;
  std::string error_;
  int pid_ = -1;
};

}  // namespace vorne_test

#endif

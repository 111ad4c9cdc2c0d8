// vorne-hostile-server MODE [rfc2217]: a misbehaving device server on
// loopback for tests that drive programs (vornectl.exe under wine among
// them). Prints its port name, then serves until standard input ends.
#include <cstdio>
#include <iostream>
#include <string>

#include "support/hostile_server.h"

int main(int argc, char** argv) {
  vorne_test::Hostility mode;
  if (argc < 2 || !vorne_test::HostilityFromName(argv[1], &mode)) {
    std::fprintf(stderr, "usage: vorne-hostile-server MODE [rfc2217]\n");
    return 2;
  }
  const vorne_test::HostileServer server(mode);
  std::printf("%s\n", server.Url(argc > 2 && std::string(argv[2]) == "rfc2217").c_str());
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}

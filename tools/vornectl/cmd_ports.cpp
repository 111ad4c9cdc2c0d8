// vornectl ports: the serial devices of this machine, their stable names,
// and the device each COM port opens now.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <regex>

#include "commands.h"
#include "line_check.h"

namespace vornectl {

namespace {

namespace fs = std::filesystem;

std::string Access(const std::string& path) {
  if (::access(path.c_str(), F_OK) != 0) return "missing";
  if (::access(path.c_str(), R_OK | W_OK) != 0) {
    return "no permission: " + PermissionAdvice(path, true);
  }
  return "usable";
}

}  // namespace

int RunPorts() {
  std::error_code ec;
  // Stable names first: they survive replugging, /dev/ttyUSBn does not.
  std::map<std::string, std::string> stableNames;  // target -> by-id name
  std::cout << "Stable names (/dev/serial/by-id):\n";
  bool any = false;
  for (const auto& entry : fs::directory_iterator("/dev/serial/by-id", ec)) {
    const fs::path target = fs::canonical(entry.path(), ec);
    std::cout << "  " << entry.path().string() << " -> " << target.string() << "\n";
    stableNames[target.string()] = entry.path().string();
    any = true;
  }
  if (!any) std::cout << "  (none)\n";

  // Built-in ttyS nodes exist whether or not a port is behind them; all are
  // listed, since telling them apart needs the hardware.
  static const std::regex kSerial("tty(S|USB|ACM)[0-9]+");
  std::vector<std::string> devices;
  for (const auto& entry : fs::directory_iterator("/dev", ec)) {
    const std::string name = entry.path().filename().string();
    if (std::regex_match(name, kSerial)) devices.push_back(entry.path().string());
  }
  std::sort(devices.begin(), devices.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  std::cout << "Serial devices:\n";
  for (const std::string& device : devices) {
    std::cout << "  " << device << "  " << Access(device);
    if (const auto found = stableNames.find(device); found != stableNames.end())
      std::cout << "  (" << found->second << ")";
    std::cout << "\n";
  }
  if (devices.empty()) std::cout << "  (none)\n";

  std::cout << "COM ports as the module opens them:\n";
  for (int port = 1; port <= 4; ++port) {
    const std::string variable = "VORNE_COM" + std::to_string(port);
    const char* set = std::getenv(variable.c_str());
    const std::string device = DeviceOfPort(port);
    std::cout << "  COM" << port << " = " << device << "  ("
              << (set != nullptr && *set != '\0' ? "from " + variable : variable + " not set")
              << ", " << Access(device) << ")\n";
  }
  return kExitOk;
}

}  // namespace vornectl

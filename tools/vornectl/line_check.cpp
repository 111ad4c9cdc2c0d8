#include "line_check.h"

#include <algorithm>
#include <cstdlib>

#include "session.h"

namespace vornectl {

namespace {

std::string Join(const std::vector<int>& values) {
  std::string out;
  for (int v : values) out += (out.empty() ? "" : ", ") + std::to_string(v);
  return out;
}

// The rates each serial type's cameras are commonly set to; others draw a
// warning, since a camera that listens at another rate ignores every frame.
struct TypeRates {
  std::int32_t type;
  std::vector<int> rates;
};
const std::vector<TypeRates>& CommonRates() {
  static const std::vector<TypeRates> rates = {
      {0, {9600, 19200, 38400}},  // VISCA
      {3, {9600}},                // TAC
      {4, {2400, 4800, 9600}},    // VIDEOTREC_PWT
      {5, {2400, 4800, 9600}},    // Pelco-D
      {6, {9600, 19200}},         // VC-C50i
      {7, {2400, 4800, 9600}},    // Pelco-P
  };
  return rates;
}

}  // namespace

bool IsVendorType(std::int32_t type) { return type == 1 || type == 2; }

std::string VendorLibraryName(std::int32_t type) {
  return type == 1 ? "CDLL_301P.dll" : "CDll.dll";
}

std::string DeviceOfPort(int port) {
  const std::string variable = "VORNE_COM" + std::to_string(port);
  const char* value = std::getenv(variable.c_str());
  if (value != nullptr && *value != '\0') return value;
  return "/dev/ttyS" + std::to_string(port - 1);
}

const std::vector<int>& LineRates() {
  static const std::vector<int> rates = {
      50,     75,     110,     134,     150,     200,     300,     600,     1200,    1800,
      2400,   4800,   9600,    19200,   38400,   57600,   115200,  230400,  460800,  500000,
      576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000};
  return rates;
}

CheckResult CheckSettings(std::int32_t type, std::optional<int> baud, std::optional<int> address) {
  CheckResult result;
  const std::string name = TypeNames()[static_cast<std::size_t>(type)];
  if (IsVendorType(type)) {
    if (baud)
      result.errors.push_back(name + " takes no baud rate: its vendor library runs the line");
    if (address) {
      result.errors.push_back(name + " takes no address: " +
                              (type == 1 ? std::string("the library drives its camera 0")
                                         : std::string("give the camera number with --camera")));
    }
    return result;
  }
  if (baud) {
    const auto& rates = LineRates();
    if (std::find(rates.begin(), rates.end(), *baud) == rates.end()) {
      result.errors.push_back("a serial line cannot run at " + std::to_string(*baud) +
                              " baud; common rates: 1200, 2400, 4800, 9600, 19200, 38400, 57600, "
                              "115200");
    } else {
      for (const TypeRates& t : CommonRates()) {
        if (t.type == type && std::find(t.rates.begin(), t.rates.end(), *baud) == t.rates.end()) {
          result.warnings.push_back(name + " cameras usually run at " + Join(t.rates) +
                                    " baud, not " + std::to_string(*baud));
        }
      }
    }
  }
  if (address) {
    if (type == 5 && (*address < 0 || *address > 255)) {
      result.errors.push_back("PELCO_D addresses are 0 to 255 (one byte), not " +
                              std::to_string(*address));
    } else if (type == 7 && (*address < 1 || *address > 256)) {
      result.errors.push_back("PELCO_P address codes are 1 to 256 (code 1 sends 0x00), not " +
                              std::to_string(*address));
    } else if (type != 5 && type != 7) {
      result.warnings.push_back(name + " frames carry no address; --address " +
                                std::to_string(*address) + " changes nothing");
    }
  }
  return result;
}

std::string ExplainOpenFailure(const std::string& failure) {
  const auto colon = failure.rfind(": ");
  const std::string device = colon == std::string::npos ? failure : failure.substr(0, colon);
  std::string reason = colon == std::string::npos ? std::string() : failure.substr(colon + 2);
  if (!reason.empty()) reason[0] = static_cast<char>(std::tolower(reason[0]));
  std::string text = "cannot open " + device + ": " + reason;
  if (reason.find("permission denied") != std::string::npos) {
    text += ": " + PermissionAdvice(device, false);
  } else if (reason.find("no such file") != std::string::npos) {
    text += ": `vornectl ports` lists the serial devices; choose one with --device PATH";
  } else if (reason.find("busy") != std::string::npos || reason.find("held") != std::string::npos) {
    text += ": another program is using it";
  }
  return text;
}

}  // namespace vornectl

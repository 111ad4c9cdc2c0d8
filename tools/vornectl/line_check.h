// Checks made before anything is sent: which device a COM port means, the
// baud rate and address against what the type and the line take, and the
// vendor library of the library types.
#ifndef VORNE_VORNECTL_LINE_CHECK_H
#define VORNE_VORNECTL_LINE_CHECK_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vornectl {

// RC20 and SU_320 call a vendor library instead of a port.
bool IsVendorType(std::int32_t type);
// "CDLL_301P.dll" or "CDll.dll".
std::string VendorLibraryName(std::int32_t type);

// The device the module opens for COM `port`: VORNE_COMn, or /dev/ttyS<n-1>.
std::string DeviceOfPort(int port);

// Rates a POSIX serial line can be set to.
const std::vector<int>& LineRates();

struct CheckResult {
  std::vector<std::string> errors;    // nothing is sent
  std::vector<std::string> warnings;  // sent anyway
};

// Baud rate and address for `type` (catalogue id).
CheckResult CheckSettings(std::int32_t type, std::optional<int> baud, std::optional<int> address);

// How the OS reason of a failed open ("DEVICE: reason") reads with advice.
std::string ExplainOpenFailure(const std::string& failure);

// What to do about a device this user may not open, from its owner, group
// and mode: the group to join when that group may open it, else who may
// ("only root can open it (crw------- root root)"). `brief` leaves out the
// command that joins the group.
std::string PermissionAdvice(const std::string& device, bool brief);

}  // namespace vornectl

#endif

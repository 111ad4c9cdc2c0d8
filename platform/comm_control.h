// The communications control: a serial port driven through dispatch
// properties, raising its errors as COleDispatchException.
#ifndef VORNE_PLATFORM_COMM_CONTROL_H
#define VORNE_PLATFORM_COMM_CONTROL_H

#include <cstdint>
#include <memory>

#include "platform/control.h"

namespace vorne {

// {648A5600-2C6E-101B-82B6-000000000014}
inline constexpr GUID CLSID_CommControl = {
    0x648A5600, 0x2C6E, 0x101B, {0x82, 0xB6, 0x00, 0x00, 0x00, 0x00, 0x00, 0x14}};

// Dispatch ids of the control's properties.
namespace comm_property {
inline constexpr DISPID kCommPort = 4;
inline constexpr DISPID kInBufferSize = 11;
inline constexpr DISPID kInBufferCount = 12;
inline constexpr DISPID kInputLen = 14;
inline constexpr DISPID kOutBufferSize = 17;
inline constexpr DISPID kPortOpen = 20;
inline constexpr DISPID kRThreshold = 21;
inline constexpr DISPID kSettings = 23;
inline constexpr DISPID kOutput = 25;
inline constexpr DISPID kInput = 26;
inline constexpr DISPID kInputMode = 29;
}  // namespace comm_property

// The control's error numbers.
namespace comm_error {
inline constexpr std::uint16_t kInvalidPropertyValue = 380;
inline constexpr std::uint16_t kPropertyReadOnly = 383;
inline constexpr std::uint16_t kPropertyWriteOnly = 394;
inline constexpr std::uint16_t kNoSuchProperty = 438;
inline constexpr std::uint16_t kNotWhileOpen = 8000;
inline constexpr std::uint16_t kInvalidPortNumber = 8002;
inline constexpr std::uint16_t kPortAlreadyOpen = 8005;
inline constexpr std::uint16_t kPortInUse = 8010;
inline constexpr std::uint16_t kDeviceNotAvailable = 8012;
inline constexpr std::uint16_t kSettingsRefused = 8015;
inline constexpr std::uint16_t kPortNotOpen = 8018;
inline constexpr std::uint16_t kTransmitFailed = 8019;
inline constexpr std::uint16_t kReceiveFailed = 8020;
}  // namespace comm_error

// A new control over the system's serial ports, closed, on port 1 at
// "9600,n,8,1".
std::unique_ptr<HostedControl> MakeCommControl();

}  // namespace vorne

#endif

// CMSComm: the window that hosts the communications control, with one
// accessor per control property the serial drivers use.
#ifndef VORNE_SERIAL_MS_COMM_H
#define VORNE_SERIAL_MS_COMM_H

#include <cstdint>

#include "platform/comm_control.h"
#include "platform/variant.h"
#include "platform/window.h"

namespace vorne {

// Class id of the communications control.
// {648A5600-2C6E-101B-82B6-000000000014}
inline constexpr GUID CLSID_MSComm = CLSID_CommControl;

// Each accessor reaches the hosted control by dispatch id. Without a hosted
// control it does nothing (a read answers false, 0 or an empty variant); a
// control error comes back as COleDispatchException.
class CMSComm : public CWnd {
 public:
  void SetPortNumber(std::int16_t value);          // 4
  void SetReceiveBufferSize(std::int16_t value);   // 11
  std::int16_t GetReceivedCount();                 // 12
  void SetReadLength(std::int16_t value);          // 14
  void SetTransmitBufferSize(std::int16_t value);  // 17
  void SetOpenState(bool open);                    // 20
  bool GetOpenState();                             // 20
  void SetReceiveThreshold(std::int16_t value);    // 21
  void SetLineSettings(const char16_t* settings);  // 23
  void SetTransmitData(const VARIANT& data);       // 25
  VARIANT GetReceivedData();                       // 26, the caller clears it
  void SetDataMode(std::int32_t mode);             // 29
};

}  // namespace vorne

#endif

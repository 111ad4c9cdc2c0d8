// Controls hosted inside the module's windows: the dispatch side of a
// control, the error it raises, and the registry that makes controls by
// class id.
#ifndef VORNE_PLATFORM_CONTROL_H
#define VORNE_PLATFORM_CONTROL_H

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "platform/variant.h"
#include "vorne/ptz_plugin.h"

namespace vorne {

using DISPID = std::int32_t;

// The error a control raises from a property call: its own error number and
// a readable text.
class COleDispatchException : public std::exception {
 public:
  COleDispatchException(std::uint16_t code, std::string description)
      : m_wCode(code), m_strDescription(std::move(description)) {}
  const char* what() const noexcept override { return m_strDescription.c_str(); }

  std::uint16_t m_wCode;
  std::string m_strDescription;
};

// A control as its host window sees it: properties read and written by
// dispatch id. Either call may throw COleDispatchException.
class HostedControl {
 public:
  HostedControl() = default;
  HostedControl(const HostedControl&) = delete;
  HostedControl& operator=(const HostedControl&) = delete;
  virtual ~HostedControl() = default;

  virtual VARIANT GetProperty(DISPID id) = 0;
  virtual void SetProperty(DISPID id, const VARIANT& value) = 0;
};

// Makes a new control; null when the control cannot be made.
using ControlFactory = std::function<std::unique_ptr<HostedControl>()>;

// Registers `factory` under `classId` and returns the factory it replaces
// (empty when there was none). An empty factory removes the class.
ControlFactory RegisterControlClass(const GUID& classId, ControlFactory factory);

// The factory registered under `classId`, or an empty one.
ControlFactory FindControlClass(const GUID& classId);

}  // namespace vorne

#endif

// The window object of the module's framework layer: wraps a host's parent
// handle, or owns a hidden child window that hosts a control.
#ifndef VORNE_PLATFORM_WINDOW_H
#define VORNE_PLATFORM_WINDOW_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/control.h"
#include "platform/variant.h"
#include "vorne/ptz_plugin.h"

namespace vorne {

struct RECT {
  std::int32_t left;
  std::int32_t top;
  std::int32_t right;
  std::int32_t bottom;
};

// The system's headers on Windows define these three as macros of the same
// values.
#ifndef WS_CHILD
inline constexpr std::uint32_t WS_CHILD = 0x40000000;
#endif

// InvokeHelper call kinds.
#ifndef DISPATCH_PROPERTYGET
inline constexpr std::uint16_t DISPATCH_PROPERTYGET = 2;
#endif
#ifndef DISPATCH_PROPERTYPUT
inline constexpr std::uint16_t DISPATCH_PROPERTYPUT = 4;
#endif

// InvokeHelper parameter descriptions: one string of VARTYPE codes, one
// code per argument that follows.
#define VTS_I2 "\x02"
#define VTS_I4 "\x03"
#define VTS_BSTR "\x08"
#define VTS_BOOL "\x0B"
#define VTS_VARIANT "\x0C"

class CWnd {
 public:
  CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  // Destroys the window this object still owns.
  virtual ~CWnd();

  // The window object for a handle the module does not own (a host's
  // parent). The object stays valid until the last control made under it
  // is destroyed (or, when none ever is, while the module is loaded). Null
  // for a null handle.
  static CWnd* FromHandle(HWND handle);
  // How many foreign handles have a window object now.
  static std::size_t ForeignWindowCount();

  // Makes the control registered under `classId` and hosts it in a new
  // hidden window of this object, a child of `parent`. Nonzero on success;
  // 0 without a parent, for an unknown class, when this object already has
  // a window, or when the control cannot be made.
  int CreateControl(const GUID& classId, const char16_t* windowName, std::uint32_t style,
                    const RECT& rect, CWnd* parent, std::uint32_t id);

  // Reads (DISPATCH_PROPERTYGET) or writes (DISPATCH_PROPERTYPUT) one
  // property of the hosted control. A read stores the answer, converted to
  // `returnType`, through `result`: VT_I2 std::int16_t, VT_I4 std::int32_t,
  // VT_BOOL int (0 or nonzero), VT_BSTR std::u16string, VT_VARIANT VARIANT.
  // A write takes one argument described by `params`: VTS_I2 or VTS_I4 an
  // int, VTS_BOOL an int, VTS_BSTR a const char16_t*, VTS_VARIANT a const
  // VARIANT*. Does nothing without a hosted control; a control error
  // arrives as COleDispatchException.
  void InvokeHelper(DISPID id, std::uint16_t flags, VARTYPE returnType, void* result,
                    const char* params, ...);

  // Ends the hosted control and the window. Nonzero when there was one.
  int DestroyWindow();

  HWND GetSafeHwnd() const { return m_hWnd; }

  HWND m_hWnd = nullptr;

 private:
  std::unique_ptr<HostedControl> control_;
  HWND parent_ = nullptr;  // the foreign parent this control counts against
  VARIANT argument_;       // a written property's value, its storage reused
};

// Nonzero for the handle of a live window the module created.
int IsWindow(HWND handle);

}  // namespace vorne

#endif

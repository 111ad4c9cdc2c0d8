// The window object of the module's framework layer.
#ifndef VORNE_PLATFORM_WINDOW_H
#define VORNE_PLATFORM_WINDOW_H

#include "vorne/ptz_plugin.h"

class CWnd {
 public:
  CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  virtual ~CWnd();

  // The window object for a handle the module does not own (a host's
  // parent). The object stays valid for the rest of the thread's life.
  // Null for a null handle.
  static CWnd* FromHandle(HWND handle);

  HWND GetSafeHwnd() const { return m_hWnd; }

  HWND m_hWnd = nullptr;
};

#endif

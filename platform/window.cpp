#include "platform/window.h"

#include <map>
#include <memory>

CWnd::~CWnd() = default;

CWnd* CWnd::FromHandle(HWND handle) {
  if (handle == nullptr) return nullptr;
  // One wrapper per foreign handle and thread, as the framework's handle map
  // keeps them; a host has few parent windows.
  thread_local std::map<HWND, std::unique_ptr<CWnd>> wrappers;
  std::unique_ptr<CWnd>& wrapper = wrappers[handle];
  if (!wrapper) {
    wrapper = std::make_unique<CWnd>();
    wrapper->m_hWnd = handle;
  }
  return wrapper.get();
}

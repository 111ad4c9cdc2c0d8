// The module's application object and its instance handle.
//
// The platform runs InitInstance when the module is loaded and ExitInstance
// when it is unloaded (a library constructor and destructor on POSIX). The
// module supplies the object through AfxGetApp.
#ifndef VORNE_PLATFORM_APP_H
#define VORNE_PLATFORM_APP_H

namespace vorne {

// The handle of the module's own file. On POSIX it is the load address that
// dladdr reports for a symbol of the module.
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;

class CWinApp {
 public:
  CWinApp() = default;
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // Nonzero when start-up succeeded.
  virtual int InitInstance();
  // Returns the exit code.
  virtual int ExitInstance();

  HINSTANCE m_hInstance = nullptr;

 protected:
  ~CWinApp() = default;
};

// Defined by the module: its one application object.
CWinApp* AfxGetApp();

// The module instance handle taken at start-up (null before).
HINSTANCE AfxGetInstanceHandle();

// Looks up the handle of the module that contains this code.
HINSTANCE PlatformModuleHandle();

// True once the process has begun to exit while the module is still
// loaded: the host's objects may be destroyed by then, so exit must call
// none of them.
bool AfxProcessExiting();

// Turns on the hosting of controls (the control registry's defaults).
void AfxEnableControlContainer();

}  // namespace vorne

#endif

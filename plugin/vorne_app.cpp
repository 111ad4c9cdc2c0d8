// The module's application object: start-up and exit of the module.
#include "hostlog/host_log.h"
#include "platform/app.h"

namespace vorne {

namespace {

class CVorneApp final : public CWinApp {
 public:
  constexpr CVorneApp() = default;

  int InitInstance() override {
    // Serial controllers host their port control, so hosting must be on
    // before the first component exists.
    AfxEnableControlContainer();
    m_hInstance = PlatformModuleHandle();
    return CWinApp::InitInstance();
  }

  int ExitInstance() override {
    if (AfxProcessExiting()) {
      AbandonHostLog();
    } else {
      ReleaseHostLog();
    }
    return CWinApp::ExitInstance();
  }
};

// Constant-initialised, so it exists before any start-up code runs and has
// nothing to tear down after exit.
constinit CVorneApp theApp;

}  // namespace

CWinApp* AfxGetApp() { return &theApp; }

}  // namespace vorne

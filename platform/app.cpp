// What the application object does on every system; the start-up and exit
// calls that run it are the backend's.
#include "platform/app.h"

namespace vorne {

int CWinApp::InitInstance() { return 1; }

int CWinApp::ExitInstance() { return 0; }

HINSTANCE AfxGetInstanceHandle() {
  CWinApp* app = AfxGetApp();
  return app != nullptr ? app->m_hInstance : nullptr;
}

}  // namespace vorne

// Start-up and exit of the module on POSIX: a library constructor and
// destructor stand in for the Windows DLL entry point.
#include <dlfcn.h>

#include "platform/app.h"

int CWinApp::InitInstance() { return 1; }

int CWinApp::ExitInstance() { return 0; }

HINSTANCE PlatformModuleHandle() {
  Dl_info info{};
  // Any symbol of this file identifies the shared object that holds it.
  if (dladdr(reinterpret_cast<void*>(&PlatformModuleHandle), &info) == 0) {
    return nullptr;
  }
  return static_cast<HINSTANCE>(info.dli_fbase);
}

HINSTANCE AfxGetInstanceHandle() {
  CWinApp* app = AfxGetApp();
  return app != nullptr ? app->m_hInstance : nullptr;
}

namespace {

bool started = false;

__attribute__((constructor)) void ModuleLoad() {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return;
  if (app->InitInstance() == 0) {
    // A library constructor cannot refuse the load; undo what start-up did.
    app->ExitInstance();
    return;
  }
  started = true;
}

__attribute__((destructor)) void ModuleUnload() {
  if (!started) return;
  started = false;
  AfxGetApp()->ExitInstance();
}

}  // namespace

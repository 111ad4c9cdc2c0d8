// Start-up and exit of the module on POSIX: a library constructor and
// destructor stand in for the Windows DLL entry point.
#include <dlfcn.h>

#include <cstdlib>

#include "platform/app.h"

namespace vorne {

HINSTANCE PlatformModuleHandle() {
  Dl_info info{};
  // Any symbol of this file identifies the shared object that holds it.
  if (dladdr(reinterpret_cast<void*>(&PlatformModuleHandle), &info) == 0) {
    return nullptr;
  }
  return static_cast<HINSTANCE>(info.dli_fbase);
}

namespace {

bool started = false;
bool exiting = false;

void MarkExiting() { exiting = true; }

__attribute__((constructor)) void ModuleLoad() {
  // An exit handler of the module's own tells the two ends apart. At
  // process exit the C library runs exit handlers first (the host's static
  // objects are destroyed among them) and only then the destructors of
  // loaded libraries, so the flag is up when ModuleUnload runs. At dlclose
  // the library's destructors run before its exit handlers, so the flag is
  // still down and the unload ends the module as usual.
  std::atexit(MarkExiting);
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

bool AfxProcessExiting() { return exiting; }

}  // namespace vorne

// Start-up and exit of the module on Windows. The runtime's constructors
// and destructors run the application object, as on POSIX, so a program
// that links the module's objects directly starts it too; DllMain keeps
// the module's handle and tells process end from FreeLibrary.
#include <windows.h>

#include <atomic>

#include "platform/app.h"

namespace vorne {

namespace {

bool started = false;
// Set when the process ends with the module still loaded: the host's
// objects may already be gone, so exit must not call into them.
std::atomic<bool> processEnding{false};
std::atomic<HINSTANCE> ownHandle{nullptr};

__attribute__((constructor)) void ModuleLoad() {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return;
  if (app->InitInstance() == 0) {
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

HINSTANCE PlatformModuleHandle() {
  if (HINSTANCE known = ownHandle.load(); known != nullptr) return known;
  // Linked into a program rather than loaded as a library: the module is
  // the file that holds this code.
  ::HMODULE module = nullptr;
  if (!::GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&PlatformModuleHandle), &module)) {
    return nullptr;
  }
  return reinterpret_cast<HINSTANCE>(module);
}

bool AfxProcessExiting() { return processEnding.load(); }

// Called from DllMain, which the runtime calls after the constructors on
// load and before the destructors on unload.
BOOL ModuleEntry(::HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      ownHandle.store(reinterpret_cast<HINSTANCE>(instance));
      // Start-up failed in the constructor: refuse the load.
      return started ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
      // A non-null reserved argument means the process is ending, not that
      // the host freed the module. The runtime runs the destructors (and so
      // the module's exit) after this.
      if (reserved != nullptr) processEnding.store(true);
      return TRUE;
    default: return TRUE;
  }
}

}  // namespace vorne

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return vorne::ModuleEntry(instance, reason, reserved);
}

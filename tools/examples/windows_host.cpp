// The smallest Windows host: load vorne.dll, create the component, pan a
// Pelco-D camera on COM1 for half a second. Built by the Windows build so it
// stays true.
#include <windows.h>

#include <cstdio>

#include "vorne/ptz_plugin.h"

int main() {
  HMODULE lib = LoadLibraryW(L"vorne.dll");
  auto lumo = lib ? reinterpret_cast<LumoDllFn>(
                        reinterpret_cast<void (*)()>(GetProcAddress(lib, VORNE_ENTRY_NAME)))
                  : nullptr;
  PluginEntryTable entries{};
  entries.size = sizeof(entries);  // 20 in a 32-bit host, 40 in a 64-bit one
  if (lumo == nullptr || FAILED(lumo(&entries))) return std::puts("cannot load vorne.dll"), 2;

  const ClassEntry* classes = nullptr;
  int32_t count = 0;
  entries.GetClassTable(&classes, &count);
  IPtzControl* ptz = nullptr;
  // A real host passes its own object here so the module can reach its log.
  if (count < 1 || FAILED(entries.CreateInstance(classes[0].classId, &IID_IPtzControl, nullptr,
                                                 nullptr, reinterpret_cast<void**>(&ptz))))
    return std::puts("cannot create WCameraControler"), 1;

  HWND parent = reinterpret_cast<HWND>(1);  // a real host passes its own window
  if (ptz->CreateController(PTZ_TYPE_PELCO_D, parent, 0) == S_OK) {
    ptz->SetComPort(0);  // COM1: VORNE_COM1 or \\.\COM1
    ptz->SetBaudRate(9600);
    ptz->Command(PTZ_PAN_LEFT);
    Sleep(500);
    ptz->Command(PTZ_STOP);
  }
  ptz->Release();  // destroys the controller, which stops the camera first
  if (entries.CanUnloadNow() == S_OK) FreeLibrary(lib);
  return 0;
}

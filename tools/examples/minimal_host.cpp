// The smallest host: load the module, create the component, pan a Pelco-D
// camera on COM1 for half a second. Built with the project so it stays true.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>

#include "vorne/ptz_plugin.h"

int main(int argc, char** argv) {
  void* lib = dlopen(argc > 1 ? argv[1] : "./vorne.so", RTLD_NOW);
  auto lumo = lib ? reinterpret_cast<LumoDllFn>(dlsym(lib, "LumoDll")) : nullptr;
  PluginEntryTable entries{};
  entries.size = sizeof(entries);
  if (lumo == nullptr || FAILED(lumo(&entries))) return std::puts("cannot load vorne.so"), 2;

  const ClassEntry* classes = nullptr;
  std::int32_t count = 0;
  entries.GetClassTable(&classes, &count);
  IPtzControl* ptz = nullptr;
  // A real host passes its own object here so the module can reach its log.
  if (count < 1 || FAILED(entries.CreateInstance(classes[0].classId, &IID_IPtzControl, nullptr,
                                                 nullptr, reinterpret_cast<void**>(&ptz))))
    return std::puts("cannot create WCameraControler"), 1;

  HWND parent = reinterpret_cast<HWND>(1);  // any non-null window handle
  if (ptz->CreateController(PTZ_TYPE_PELCO_D, parent, 0) == S_OK) {
    ptz->SetComPort(0);      // COM1: VORNE_COM1 or /dev/ttyS0
    ptz->SetBaudRate(9600);  // settings apply at the next frame
    ptz->SetAddressCode(1);
    ptz->Command(PTZ_PAN_LEFT);
    usleep(500 * 1000);
    ptz->Command(PTZ_STOP);
  }
  ptz->Release();  // destroys the controller, which stops the camera first
  if (entries.CanUnloadNow() == S_OK) dlclose(lib);
  return 0;
}

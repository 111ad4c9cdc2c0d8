// The smallest host, with the host kit: load the module, print its log lines,
// pan a Pelco-D camera on COM1 for half a second. Built with the project.
#include <unistd.h>

#include <cstdio>

#include "hostkit/host.h"

int main(int argc, char** argv) {
  hostkit::LoadedModule module;  // dlopen, LumoDll, the entry table
  if (!module.Load(argc > 1 ? argv[1] : hostkit::ModuleBesideProgram()))
    return std::fprintf(stderr, "%s\n", module.Error().c_str()), 2;  // with dlerror's reason
  hostkit::HostObject host([](const std::string& line) { std::fputs(line.c_str(), stdout); });
  IPtzControl* ptz = nullptr;
  if (HRESULT hr = module.CreateCamera(&host, &ptz); FAILED(hr))
    return std::fprintf(stderr, "WCameraControler: %s\n", hostkit::ResultName(hr).c_str()), 1;

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
  return 0;        // the module unloads with `module`, releasing the log sink
}

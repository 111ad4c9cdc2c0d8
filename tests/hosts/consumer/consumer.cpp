// A host built against the installed package: the module's path comes from
// the package, the host kit does the loading and the log sink.
#include <unistd.h>

#include <cstddef>
#include <cstdio>

#include "hostkit/host.h"

extern "C" std::size_t ConsumerCEntryTableSize(void);
extern "C" int ConsumerCIsPtzControl(const GUID* iid);

int main() {
  // C and C++ see the same table and ids.
  if (ConsumerCEntryTableSize() != sizeof(PluginEntryTable) ||
      !ConsumerCIsPtzControl(&IID_IPtzControl))
    return std::puts("the C view of the header differs"), 1;

  hostkit::LoadedModule module;
  if (!module.Load(VORNE_MODULE_FILE))
    return std::fprintf(stderr, "%s\n", module.Error().c_str()), 2;
  hostkit::HostObject host([](const std::string& line) { std::fputs(line.c_str(), stdout); });
  IPtzControl* ptz = nullptr;
  if (HRESULT hr = module.CreateCamera(&host, &ptz); FAILED(hr))
    return std::fprintf(stderr, "WCameraControler: %s\n", hostkit::ResultName(hr).c_str()), 1;
  int failed = ptz->CreateController(PTZ_TYPE_PELCO_D, reinterpret_cast<HWND>(1), 0) != S_OK;
  failed |= ptz->SetComPort(0) != S_OK;
  failed |= ptz->Command(PTZ_PAN_LEFT) != S_OK;
  usleep(100 * 1000);
  failed |= ptz->Command(PTZ_STOP) != S_OK;
  ptz->Release();
  std::puts(failed ? "consumer: FAILED" : "consumer: ok");
  return failed;
}

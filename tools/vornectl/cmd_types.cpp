// vornectl types: the camera types the module serves, read through the
// loaded module exactly as a host reads them.
#include <cstdio>
#include <iostream>

#include "commands.h"
#include "hostkit/host_object.h"
#include "hostkit/log_format.h"
#include "hostkit/module_loader.h"

namespace vornectl {

int RunTypes(const CommonOptions& options) {
  hostkit::LoadedModule module;
  const std::string path =
      options.modulePath.empty() ? hostkit::ModuleBesideProgram() : options.modulePath;
  if (!module.Load(path)) {
    std::cerr << "vornectl: " << module.Error() << "\n";
    return kExitUsage;
  }
  hostkit::HostObject host([](const std::string& line) { std::cerr << "module: " << line; });
  IPtzControl* camera = nullptr;
  const HRESULT hr = module.CreateCamera(&host, &camera);
  if (FAILED(hr) || camera == nullptr) {
    std::cerr << "vornectl: cannot create WCameraControler: " << hostkit::ResultName(hr) << "\n";
    return kExitFailed;
  }
  const std::uint32_t count = camera->GetCameraTypeCount();
  std::printf("%-4s %s\n", "ID", "NAME");
  for (std::uint32_t i = 0; i < count; ++i) {
    std::int32_t id = -1;
    char16_t name[32] = {};
    camera->GetCameraTypeInfo(i, &id, name, 32);
    std::printf("%-4d %s\n", id, hostkit::ToUtf8(name).c_str());
  }
  camera->Release();
  return kExitOk;
}

}  // namespace vornectl

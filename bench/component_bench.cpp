// The host-facing paths that a host may call often: creating components,
// listing camera types, and commands without a controller.
#include <benchmark/benchmark.h>

#include "hostkit/host_object.h"
#include "hostlog/host_log.h"
#include "plugin/entry.h"

using namespace vorne;

namespace {

void BM_CreateAndReleaseComponent(benchmark::State& state) {
  hostkit::HostObject host;
  for (auto _ : state) {
    IPtzControl* camera = nullptr;
    CreateInstance(&CLSID_WCameraControler, &IID_IPtzControl, nullptr, &host,
                   reinterpret_cast<void**>(&camera));
    camera->Release();
  }
  ReleaseHostLog();
}
BENCHMARK(BM_CreateAndReleaseComponent);

void BM_ListCameraTypes(benchmark::State& state) {
  IPtzControl* camera = nullptr;
  CreateInstance(&CLSID_WCameraControler, &IID_IPtzControl, nullptr, nullptr,
                 reinterpret_cast<void**>(&camera));
  char16_t name[32];
  for (auto _ : state) {
    for (std::uint32_t i = 0; i < camera->GetCameraTypeCount(); ++i) {
      std::int32_t id = 0;
      benchmark::DoNotOptimize(camera->GetCameraTypeInfo(i, &id, name, 32));
    }
  }
  camera->Release();
}
BENCHMARK(BM_ListCameraTypes);

}  // namespace

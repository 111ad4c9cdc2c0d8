#include "hostlog/host_log.h"

namespace vorne {

IHostLog* HostLog = nullptr;

VORNE_CALLS_HOST_OBJECTS HRESULT AttachHostLog(IUnknown* host, const char16_t* name, std::int32_t a,
                                               std::int32_t b) noexcept {
  if (host == nullptr || name == nullptr) return E_FAIL;
  if (HostLog != nullptr) return S_OK;

  IHostLogFactory* factory = nullptr;
  HRESULT hr = host->QueryInterface(IID_IHostLogFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  if (factory == nullptr) return E_FAIL;  // a host that claims success but hands back nothing

  hr = factory->CreateLog(name, a, b, &HostLog);
  factory->Release();
  if (FAILED(hr)) {
    // A failing factory must not leave a half-made sink behind.
    HostLog = nullptr;
    return hr;
  }
  return S_OK;
}

VORNE_CALLS_HOST_OBJECTS int ReleaseHostLog() noexcept {
  if (HostLog != nullptr) {
    HostLog->Release();
    HostLog = nullptr;
  }
  return 0;
}

void AbandonHostLog() noexcept { HostLog = nullptr; }

}  // namespace vorne

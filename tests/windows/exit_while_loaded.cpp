// A host that ends with vorne.dll still loaded ("exit") or unloads it first
// ("unload"). The module releases the host's log sink when it is unloaded,
// but at process end the host's objects may be gone: then it must call
// nothing of the host's. The sink says when it is released.
#include <windows.h>

#include <cstring>

#include "vorne/ptz_plugin.h"

namespace {

void Say(const char* text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written,
            nullptr);
}

class Sink final : public IHostLog {
 public:
  HRESULT VORNE_CALL QueryInterface(const GUID&, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  vorne_ulong_t VORNE_CALL AddRef() override { return 2; }
  vorne_ulong_t VORNE_CALL Release() override {
    Say("sink released\n");
    return 1;
  }
  HRESULT VORNE_CDECL Log(const vorne_char16_t*, ...) override { return S_OK; }
};

class Host final : public IHostLogFactory {
 public:
  HRESULT VORNE_CALL QueryInterface(const GUID& iid, void** out) override {
    if (IsEqualGUID(iid, IID_IHostLogFactory) || IsEqualGUID(iid, IID_IUnknown)) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  vorne_ulong_t VORNE_CALL AddRef() override { return 2; }
  vorne_ulong_t VORNE_CALL Release() override { return 1; }
  HRESULT VORNE_CALL CreateLog(const vorne_char16_t*, int32_t, int32_t, IHostLog** out) override {
    *out = &sink;
    return S_OK;
  }
  Sink sink;
};

Host host;

}  // namespace

int main(int argc, char** argv) {
  const bool unload = argc > 1 && std::strcmp(argv[1], "unload") == 0;
  HMODULE lib = LoadLibraryW(L"vorne.dll");
  auto lumo = lib ? reinterpret_cast<LumoDllFn>(
                        reinterpret_cast<void (*)()>(GetProcAddress(lib, VORNE_ENTRY_NAME)))
                  : nullptr;
  PluginEntryTable entries{};
  entries.size = sizeof(entries);
  if (lumo == nullptr || FAILED(lumo(&entries))) return Say("cannot load vorne.dll\n"), 2;
  IUnknown* object = nullptr;
  if (FAILED(entries.CreateInstance(&CLSID_WCameraControler, &IID_IUnknown, nullptr, &host,
                                    reinterpret_cast<void**>(&object)))) {
    return Say("cannot create\n"), 1;
  }
  object->Release();
  if (unload) FreeLibrary(lib);
  Say("main returned\n");
  return 0;
}

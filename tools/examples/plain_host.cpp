// The same host as minimal_host.cpp without the host kit: everything it does
// for a host, written out against vorne/ptz_plugin.h alone. Load the module
// with the loader's reason on failure, hand it a host object whose log sink
// prints the module's lines, pan a Pelco-D camera on COM1 for half a second.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "vorne/ptz_plugin.h"

namespace {

// The log sink: one line per Log call. The module owns the reference that
// CreateLog hands out and releases it when it is unloaded.
class PrintingLog final : public IHostLog {
 public:
  HRESULT VORNE_CALL QueryInterface(const GUID& iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = IsEqualGUID(iid, IID_IUnknown) ? this : nullptr;
    if (*out == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  vorne_ulong_t VORNE_CALL AddRef() override { return ++refs_; }
  vorne_ulong_t VORNE_CALL Release() override {
    const std::uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  // The formats hold %d conversions only, each one int32_t; the text is
  // ASCII, so each UTF-16 unit below 0x80 is one char.
  HRESULT VORNE_CDECL Log(const char16_t* format, ...) override {
    std::string line;
    va_list args;
    va_start(args, format);
    for (const char16_t* p = format; *p != u'\0'; ++p) {
      if (p[0] == u'%' && p[1] == u'd') {
        line += std::to_string(va_arg(args, std::int32_t));
        ++p;
      } else {
        line += *p < 0x80 ? static_cast<char>(*p) : '?';
      }
    }
    va_end(args);
    std::fputs(line.c_str(), stdout);
    return S_OK;
  }

 private:
  ~PrintingLog() = default;
  std::uint32_t refs_ = 1;
};

// The host object: lives on the host's stack, so its counts are only kept.
class Host final : public IHostLogFactory {
 public:
  HRESULT VORNE_CALL QueryInterface(const GUID& iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    const bool known = IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IHostLogFactory);
    *out = known ? this : nullptr;
    if (!known) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  vorne_ulong_t VORNE_CALL AddRef() override { return ++refs_; }
  vorne_ulong_t VORNE_CALL Release() override { return --refs_; }
  // The module asks once, with ("VORNE", 3, 2); the sink it gets carries one
  // reference, which becomes the module's.
  HRESULT VORNE_CALL CreateLog(const char16_t*, std::int32_t, std::int32_t,
                               IHostLog** out) override {
    if (out == nullptr) return E_POINTER;
    *out = new PrintingLog;
    return S_OK;
  }

 private:
  std::uint32_t refs_ = 1;
};

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "./vorne.so";
  void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) return std::fprintf(stderr, "cannot load module: %s\n", dlerror()), 2;
  auto lumo = reinterpret_cast<LumoDllFn>(dlsym(lib, VORNE_ENTRY_NAME));
  PluginEntryTable entries{};
  entries.size = sizeof(entries);
  if (lumo == nullptr || FAILED(lumo(&entries)))
    return std::fprintf(stderr, "%s: no usable " VORNE_ENTRY_NAME "\n", path), 2;

  Host host;
  IPtzControl* ptz = nullptr;
  const HRESULT hr = entries.CreateInstance(&CLSID_WCameraControler, &IID_IPtzControl, nullptr,
                                            &host, reinterpret_cast<void**>(&ptz));
  if (FAILED(hr)) return std::fprintf(stderr, "WCameraControler: 0x%08X\n", unsigned(hr)), 1;

  HWND parent = reinterpret_cast<HWND>(1);  // any non-null window handle
  if (ptz->CreateController(PTZ_TYPE_PELCO_D, parent, 0) == S_OK) {
    ptz->SetComPort(0);  // COM1: VORNE_COM1 or /dev/ttyS0
    ptz->SetBaudRate(9600);
    ptz->SetAddressCode(1);
    ptz->Command(PTZ_PAN_LEFT);
    usleep(500 * 1000);
    ptz->Command(PTZ_STOP);
  }
  ptz->Release();  // destroys the controller, which stops the camera first
  // Unloading runs the module's exit, which releases the log sink.
  if (entries.CanUnloadNow() == S_OK) dlclose(lib);
  return 0;
}

#include "hostkit/module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>

namespace hostkit {

LoadedModule::~LoadedModule() { Unload(); }

bool LoadedModule::Load(const std::string& path) {
  Unload();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    error_ = "cannot load module " + path + ": " + (why != nullptr ? why : "unknown error");
    return false;
  }
  entry_ = reinterpret_cast<LumoDllFn>(dlsym(handle_, VORNE_ENTRY_NAME));
  if (entry_ == nullptr) {
    error_ = "module " + path + " has no " VORNE_ENTRY_NAME " entry";
    Unload();
    return false;
  }
  table_ = PluginEntryTable{};
  table_.size = sizeof(PluginEntryTable);
  const HRESULT hr = entry_(&table_);
  if (FAILED(hr)) {
    error_ = "module " + path + " refused the entry table: " + ResultName(hr);
    Unload();
    return false;
  }
  return true;
}

void LoadedModule::Unload() {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
  entry_ = nullptr;
  table_ = PluginEntryTable{};
}

HRESULT LoadedModule::CreateCamera(IUnknown* host, IPtzControl** out) const {
  if (!Loaded() || out == nullptr) return E_POINTER;
  const ClassEntry* classes = nullptr;
  std::int32_t count = 0;
  table_.GetClassTable(&classes, &count);
  for (std::int32_t i = 0; i < count; ++i) {
    if (std::u16string_view(classes[i].name) == u"WCameraControler") {
      return table_.CreateInstance(classes[i].classId, &IID_IPtzControl, nullptr, host,
                                   reinterpret_cast<void**>(out));
    }
  }
  return E_FAIL;
}

std::string ModuleBesideProgram() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return "vorne.so";
  std::string path(buffer, static_cast<std::size_t>(n));
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  // In the build tree the module sits beside the programs; installed, the
  // programs are in bin/ and the module in lib/vorne/.
  const std::string beside = folder + "vorne.so";
  const std::string installed = folder + "../lib/vorne/vorne.so";
  if (access(beside.c_str(), F_OK) != 0 && access(installed.c_str(), F_OK) == 0) return installed;
  return beside;
}

std::string ResultName(HRESULT hr) {
  switch (hr) {
    case S_OK: return "S_OK";
    case S_FALSE: return "S_FALSE";
    case E_NOINTERFACE: return "E_NOINTERFACE";
    case E_POINTER: return "E_POINTER";
    case E_FAIL: return "E_FAIL";
    case E_UNEXPECTED: return "E_UNEXPECTED (no controller)";
    case E_OUTOFMEMORY: return "E_OUTOFMEMORY";
    case E_NOTIMPL: return "E_NOTIMPL";
    case CLASS_E_NOAGGREGATION: return "CLASS_E_NOAGGREGATION";
    default: break;
  }
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(hr));
  return text;
}

}  // namespace hostkit

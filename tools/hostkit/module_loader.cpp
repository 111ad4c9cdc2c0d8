#include "hostkit/module_loader.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <string_view>

namespace hostkit {

namespace {

#ifdef _WIN32
constexpr const char* kModuleFile = "vorne.dll";

std::wstring Wide(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(length > 0 ? static_cast<std::size_t>(length) : 1, L'\0');
  if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), length);
  return wide;
}

void* OpenLibrary(const std::string& path, std::string* why) {
  HMODULE module = LoadLibraryW(Wide(path).c_str());
  if (module == nullptr) *why = "system error " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(module);
}

LumoDllFn FindEntry(void* handle) {
  return reinterpret_cast<LumoDllFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(handle), VORNE_ENTRY_NAME)));
}

void CloseLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

std::string ProgramFolder() {
  wchar_t buffer[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  std::string path(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(n), path.data(), length, nullptr,
                      nullptr);
  const auto slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool Exists(const std::string& path) {
  return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}
#else
constexpr const char* kModuleFile = "vorne.so";

void* OpenLibrary(const std::string& path, std::string* why) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* error = dlerror();
    *why = error != nullptr ? error : "unknown error";
  }
  return handle;
}

LumoDllFn FindEntry(void* handle) {
  return reinterpret_cast<LumoDllFn>(dlsym(handle, VORNE_ENTRY_NAME));
}

void CloseLibrary(void* handle) { dlclose(handle); }

std::string ProgramFolder() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return {};
  const std::string path(buffer, static_cast<std::size_t>(n));
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
#endif

}  // namespace

LoadedModule::~LoadedModule() { Unload(); }

bool LoadedModule::Load(const std::string& path) {
  Unload();
  std::string why;
  handle_ = OpenLibrary(path, &why);
  if (handle_ == nullptr) {
    error_ = "cannot load module " + path + ": " + why;
    return false;
  }
  entry_ = FindEntry(handle_);
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
  if (handle_ != nullptr) CloseLibrary(handle_);
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
  const std::string folder = ProgramFolder();
  if (folder.empty()) return kModuleFile;
  // In the build tree the module sits beside the programs; installed, the
  // programs are in bin/ and the module in lib/vorne/.
  const std::string beside = folder + kModuleFile;
  const std::string installed = folder + "../lib/vorne/" + kModuleFile;
  if (!Exists(beside) && Exists(installed)) return installed;
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

// Loads the module as any host does: dlopen, LumoDll, the entry table.
#ifndef VORNE_HOSTKIT_MODULE_LOADER_H
#define VORNE_HOSTKIT_MODULE_LOADER_H

#include <string>

#include "vorne/ptz_plugin.h"

namespace hostkit {

class LoadedModule {
 public:
  LoadedModule() = default;
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  // Loads the file at `path` and fills the entry table. On failure returns
  // false and Error() says why.
  bool Load(const std::string& path);
  // Unloads the module (its exit releases the host's log sink).
  void Unload();

  bool Loaded() const { return handle_ != nullptr; }
  const std::string& Error() const { return error_; }
  const PluginEntryTable& Entries() const { return table_; }
  LumoDllFn Entry() const { return entry_; }

  // Creates "WCameraControler" from the class table and asks it for
  // IPtzControl. Returns the result code; *out is set on success.
  HRESULT CreateCamera(IUnknown* host, IPtzControl** out) const;

 private:
  void* handle_ = nullptr;
  LumoDllFn entry_ = nullptr;
  PluginEntryTable table_{};
  std::string error_;
};

// The module file beside the running program (same folder, "vorne.so").
std::string ModuleBesideProgram();

// Result codes in words ("E_FAIL", "E_UNEXPECTED", ...); unknown ones in hex.
std::string ResultName(HRESULT hr);

}  // namespace hostkit

#endif

/* A Windows host includes <windows.h> and the host header in either order,
 * in C and in C++ (host_includes.cpp), with every warning an error. Built
 * twice: VORNE_HEADER_FIRST 0 and 1. A host's defaults, not the build's: */
#undef NOMINMAX
#undef WIN32_LEAN_AND_MEAN

/* The order is the test. */
/* clang-format off */
#if VORNE_HEADER_FIRST
#include "vorne/ptz_plugin.h"
#include <windows.h>
#else
#include <windows.h>
#include "vorne/ptz_plugin.h"
#endif
/* clang-format on */

/* The system's types and the module's tables meet in one host. */
HRESULT VorneHostCheck(PluginEntryTable* table, HWND parent);
HRESULT VorneHostCheck(PluginEntryTable* table, HWND parent) {
  GUID id = CLSID_WCameraControler;
  HMODULE module = LoadLibraryW(L"vorne.dll");
  if (module == NULL || parent == NULL) return E_FAIL;
  table->size = sizeof(PluginEntryTable);
#ifdef __cplusplus
  return IsEqualGUID(id, IID_IPtzControl) ? S_FALSE : S_OK;
#else
  return IsEqualGUID(&id, &IID_IPtzControl) ? S_FALSE : S_OK;
#endif
}

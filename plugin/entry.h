// The module's door: LumoDll and the four entry functions it hands out.
#ifndef VORNE_PLUGIN_ENTRY_H
#define VORNE_PLUGIN_ENTRY_H

#include "vorne/ptz_plugin.h"

namespace vorne {

VORNE_EXPORT HRESULT VORNE_CALL LumoDll(PluginEntryTable* table) noexcept;

HRESULT VORNE_CALL GetInfo(std::uint32_t* first, std::uint32_t* second,
                           std::uint32_t* third) noexcept;
HRESULT VORNE_CALL GetClassTable(const ClassEntry** table, std::int32_t* count) noexcept;
HRESULT VORNE_CALL CanUnloadNow() noexcept;
HRESULT VORNE_CALL CreateInstance(const GUID* classId, const GUID* iid, IUnknown* outer,
                                  IUnknown* host, void** out) noexcept;

}  // namespace vorne

#endif

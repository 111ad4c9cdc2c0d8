// Count of live component objects; CanUnloadNow reports it.
#ifndef VORNE_PLUGIN_MODULE_LOCK_H
#define VORNE_PLUGIN_MODULE_LOCK_H

#include <atomic>
#include <cstdint>

namespace vorne {

extern std::atomic<std::int32_t> ModuleLockCount;

}  // namespace vorne

#endif

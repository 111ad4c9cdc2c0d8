// Where the module lives, and the vendor libraries that lie beside it.
#ifndef VORNE_VENDOR_MODULE_DIRECTORY_H
#define VORNE_VENDOR_MODULE_DIRECTORY_H

#include <array>

#include "platform/dynamic_library.h"

namespace vorne {

// A path in the module's fixed path buffer, zero-terminated.
using PathText = std::array<char16_t, MAX_PATH>;

// The drive and directory of the module's own file, ending in the path
// separator. Empty when the file name cannot be read or does not fit in
// MAX_PATH characters: a cut-off name would name some other folder.
PathText ModuleDirectory() noexcept;

// The full path of `fileName` in the module's directory. False, with an
// empty path, when there is no directory or the path would not fit in
// MAX_PATH characters with its terminator.
bool PathBesideModule(const char16_t* fileName, PathText& path) noexcept;

// Loads `fileName` from the module's directory; null when it is not there
// or its path does not fit (the library then counts as missing).
HMODULE LoadLibraryBesideModule(const char16_t* fileName) noexcept;

}  // namespace vorne

#endif

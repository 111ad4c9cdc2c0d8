// Libraries loaded at run time, the file name of a loaded module, and a
// splitter for wide path names, in the shape of the Windows kernel and
// runtime calls.
//
// Paths are UTF-16. On POSIX they are handed to the file system as UTF-8;
// bytes of a file name that are not valid UTF-8 travel as the lone
// surrogates U+DC80..U+DCFF, so a name read by GetModuleFileNameW can be
// passed back to LoadLibraryW unchanged.
#ifndef VORNE_PLATFORM_DYNAMIC_LIBRARY_H
#define VORNE_PLATFORM_DYNAMIC_LIBRARY_H

#include <cstddef>
#include <cstdint>

#include "platform/app.h"

namespace vorne {

// A library loaded by LoadLibraryW. Only GetProcAddress and FreeLibrary
// take it; the file name of a module is read through its instance handle.
struct HMODULE__;
using HMODULE = HMODULE__*;

// An exported function. Callers convert it to the function's real type.
using FARPROC = void (*)();

// Longest path, terminator included, that the path buffers hold. The
// system's headers on Windows define it as a macro of the same value.
#ifndef MAX_PATH
inline constexpr std::size_t MAX_PATH = 260;
#endif

// Loads the library at `path` with all its symbols bound at once and kept
// to itself. Null when the path is null, cannot be encoded, or the library
// cannot be loaded.
HMODULE LoadLibraryW(const char16_t* path) noexcept;

// The function that `module` itself exports under `name`, or null. An ELF
// linker reads '@' in a symbol name as a version tag, so when the exact
// name is missing the same name with every '@' turned into '$' is tried:
// "?MotoUp@@YAXXZ" is also found as "?MotoUp$$YAXXZ". Functions of the
// libraries that `module` depends on are not found through it.
FARPROC GetProcAddress(HMODULE module, const char* name) noexcept;

// Unloads a library from LoadLibraryW. Nonzero on success; 0 for null.
int FreeLibrary(HMODULE module) noexcept;

// Writes the full file name of the module whose instance handle is
// `module` (null: the program's own file) into `buffer`, which holds `size`
// characters. Returns the name's length without terminator; when the name
// does not fit, writes as much as fits with a terminator and returns `size`.
// Returns 0 when the name cannot be found.
std::uint32_t GetModuleFileNameW(HINSTANCE module, char16_t* buffer, std::uint32_t size) noexcept;

// Part sizes for SplitPathW, terminators included.
inline constexpr std::size_t MAX_DRIVE = 3;
inline constexpr std::size_t MAX_DIR = 256;
inline constexpr std::size_t MAX_FNAME = 256;
inline constexpr std::size_t MAX_EXT = 256;

// Splits `path` as the runtime's wide path splitter does: the drive (a
// letter and colon at the start), the directory (up to and including the
// last '\\' or '/'), the file name and the extension (from the last '.' of
// the name). Any part pointer may be null when its size is 0. Returns 0 on
// success; when a part does not fit in its buffer, every buffer given
// receives an empty string and the result is nonzero.
int SplitPathW(const char16_t* path, char16_t* drive, std::size_t driveSize, char16_t* dir,
               std::size_t dirSize, char16_t* fname, std::size_t fnameSize, char16_t* ext,
               std::size_t extSize) noexcept;

}  // namespace vorne

#endif

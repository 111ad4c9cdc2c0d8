// Run-time libraries on Windows: the kernel's own calls. Paths are UTF-16
// on both sides, so they pass through unchanged.
#include <windows.h>

#include <cerrno>
#include <cstdlib>

#include "platform/dynamic_library.h"

namespace vorne {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters");

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

}  // namespace

HMODULE LoadLibraryW(const char16_t* path) noexcept {
  if (path == nullptr || *path == 0) return nullptr;
  // No "insert a disk" dialog box for a library on a missing drive: the
  // call fails like any other.
  DWORD previous = 0;
  const bool quiet =
      ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous);
  ::HMODULE module = ::LoadLibraryW(Wide(path));
  if (quiet) ::SetThreadErrorMode(previous, nullptr);
  return reinterpret_cast<HMODULE>(module);
}

FARPROC GetProcAddress(HMODULE module, const char* name) noexcept {
  if (module == nullptr || name == nullptr) return nullptr;
  // A DLL exports the decorated names as they stand.
  return reinterpret_cast<FARPROC>(::GetProcAddress(reinterpret_cast<::HMODULE>(module), name));
}

int FreeLibrary(HMODULE module) noexcept {
  if (module == nullptr) return 0;
  return ::FreeLibrary(reinterpret_cast<::HMODULE>(module)) ? 1 : 0;
}

std::uint32_t GetModuleFileNameW(HINSTANCE module, char16_t* buffer, std::uint32_t size) noexcept {
  if (buffer == nullptr || size == 0) return 0;
  const DWORD length =
      ::GetModuleFileNameW(reinterpret_cast<::HMODULE>(module), Wide(buffer), size);
  if (length == 0) {
    buffer[0] = 0;
    return 0;
  }
  // Older systems leave a cut name without its terminator.
  if (length >= size) {
    buffer[size - 1] = 0;
    return size;
  }
  return length;
}

int SplitPathW(const char16_t* path, char16_t* drive, std::size_t driveSize, char16_t* dir,
               std::size_t dirSize, char16_t* fname, std::size_t fnameSize, char16_t* ext,
               std::size_t extSize) noexcept {
  if (path == nullptr) return EINVAL;
  if ((drive == nullptr) != (driveSize == 0) || (dir == nullptr) != (dirSize == 0) ||
      (fname == nullptr) != (fnameSize == 0) || (ext == nullptr) != (extSize == 0)) {
    return EINVAL;
  }
  // The runtime's splitter clears every buffer and answers ERANGE when a
  // part does not fit, as the module's contract says.
  return ::_wsplitpath_s(Wide(path), Wide(drive), driveSize, Wide(dir), dirSize, Wide(fname),
                         fnameSize, Wide(ext), extSize);
}

}  // namespace vorne

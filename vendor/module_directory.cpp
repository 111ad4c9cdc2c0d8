#include "vendor/module_directory.h"

#include <algorithm>

namespace vorne {

namespace {

std::size_t Length(const char16_t* text) {
  std::size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

}  // namespace

PathText ModuleDirectory() noexcept {
  PathText fileName{};
  PathText directory{};
  const std::uint32_t length =
      GetModuleFileNameW(AfxGetInstanceHandle(), fileName.data(), MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return directory;

  char16_t drive[MAX_DRIVE];
  char16_t dir[MAX_DIR];
  if (SplitPathW(fileName.data(), drive, MAX_DRIVE, dir, MAX_DIR, nullptr, 0, nullptr, 0) != 0) {
    return directory;
  }
  // Drive and directory together are never longer than the name they came from.
  const std::size_t driveLength = Length(drive);
  const std::size_t dirLength = Length(dir);
  std::copy_n(drive, driveLength, directory.begin());
  std::copy_n(dir, dirLength, directory.begin() + static_cast<std::ptrdiff_t>(driveLength));
  directory[driveLength + dirLength] = 0;
  return directory;
}

bool PathBesideModule(const char16_t* fileName, PathText& path) noexcept {
  path.fill(0);
  if (fileName == nullptr) return false;
  const PathText directory = ModuleDirectory();
  const std::size_t dirLength = Length(directory.data());
  const std::size_t nameLength = Length(fileName);
  // Without a directory the bare name would be looked up on the library
  // search path, which is not beside the module.
  if (dirLength == 0 || dirLength + nameLength >= MAX_PATH) return false;
  std::copy_n(directory.begin(), dirLength, path.begin());
  std::copy_n(fileName, nameLength, path.begin() + static_cast<std::ptrdiff_t>(dirLength));
  return true;
}

HMODULE LoadLibraryBesideModule(const char16_t* fileName) noexcept {
  PathText path;
  if (!PathBesideModule(fileName, path)) return nullptr;
  return LoadLibraryW(path.data());
}

}  // namespace vorne

// Run-time libraries on POSIX: dlopen and friends behind the Windows calls.
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/dynamic_library.h"

namespace vorne {

namespace {

// Fixed buffers keep these calls free of allocation; a longer path cannot
// be opened anyway.
using NativePath = char[PATH_MAX];

// Bytes that are not valid UTF-8 travel as U+DC80..U+DCFF.
constexpr char16_t kEscapeBase = 0xDC00;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes one well-formed UTF-8 sequence at `text`. Returns its length in
// bytes and sets `code`, or returns 0 when the sequence is ill-formed.
std::size_t DecodeUtf8(const unsigned char* text, char32_t& code) {
  const unsigned char lead = text[0];
  std::size_t length = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    minimum = 0x80;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    minimum = 0x800;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    minimum = 0x10000;
    code = lead & 0x07;
  } else {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    // A terminator is not a continuation byte, so this stops at the end.
    if (!IsContinuation(text[i])) return 0;
    code = (code << 6) | (text[i] & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

// Converts a file-system name to UTF-16 in `out` (`size` characters).
// Writes as much as fits with a terminator; returns the full length.
std::size_t Utf8ToUtf16(const char* name, char16_t* out, std::size_t size) {
  std::size_t length = 0;
  auto put = [&](char16_t unit) {
    if (length + 1 < size) out[length] = unit;
    ++length;
  };
  const auto* text = reinterpret_cast<const unsigned char*>(name);
  while (*text != 0) {
    char32_t code = 0;
    if (*text < 0x80) {
      put(*text++);
    } else if (const std::size_t used = DecodeUtf8(text, code); used != 0) {
      if (code >= 0x10000) {
        put(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
        put(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
      } else {
        put(static_cast<char16_t>(code));
      }
      text += used;
    } else {
      put(static_cast<char16_t>(kEscapeBase + *text++));
    }
  }
  if (size > 0) out[length < size ? length : size - 1] = 0;
  return length;
}

// Converts a UTF-16 path to the file system's bytes. False when it does not
// fit or holds a lone surrogate that stands for no byte.
bool Utf16ToUtf8(const char16_t* path, NativePath& out) {
  std::size_t length = 0;
  auto put = [&](char32_t byte) {
    if (length + 1 >= sizeof(NativePath)) return false;
    out[length++] = static_cast<char>(byte);
    return true;
  };
  for (const char16_t* p = path; *p != 0; ++p) {
    char32_t code = *p;
    if (code >= 0xD800 && code <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (p[1] - 0xDC00);
      ++p;
    } else if (code >= kEscapeBase + 0x80 && code <= kEscapeBase + 0xFF) {
      if (!put(code - kEscapeBase)) return false;
      continue;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      return false;
    }
    bool fits = true;
    if (code < 0x80) {
      fits = put(code);
    } else if (code < 0x800) {
      fits = put(0xC0 | (code >> 6)) && put(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      fits =
          put(0xE0 | (code >> 12)) && put(0x80 | ((code >> 6) & 0x3F)) && put(0x80 | (code & 0x3F));
    } else {
      fits = put(0xF0 | (code >> 18)) && put(0x80 | ((code >> 12) & 0x3F)) &&
             put(0x80 | ((code >> 6) & 0x3F)) && put(0x80 | (code & 0x3F));
    }
    if (!fits) return false;
  }
  out[length] = 0;
  return true;
}

// Copies `text` after `length` bytes already in `out`; false if it does not fit.
bool Append(NativePath& out, std::size_t length, const char* text) {
  const std::size_t more = std::strlen(text);
  if (length + more >= sizeof(NativePath)) return false;
  std::memcpy(out + length, text, more + 1);
  return true;
}

// The working folder when this module was loaded. A module loaded by a
// relative path was found relative to it, whatever folder the host has
// moved to since.
NativePath loadFolder = {};

__attribute__((constructor)) void RememberLoadFolder() {
  if (getcwd(loadFolder, sizeof(NativePath)) == nullptr) loadFolder[0] = 0;
}

// Whether `map` is the entry of the shared object holding this code.
bool IsThisModule(const link_map* map) {
  Dl_info info{};
  link_map* own = nullptr;
  return dladdr1(reinterpret_cast<const void*>(&RememberLoadFolder), &info,
                 reinterpret_cast<void**>(&own), RTLD_DL_LINKMAP) != 0 &&
         own == map;
}

// The full file name of the object that holds `address`, or of the program
// when `address` is null.
bool ModuleFileName(const void* address, NativePath& out) {
  const char* name = nullptr;
  const link_map* loadedMap = nullptr;
  if (address != nullptr) {
    Dl_info info{};
    link_map* map = nullptr;
    if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
        map == nullptr) {
      return false;
    }
    loadedMap = map;
    // The program's own entry has an empty name.
    if (map->l_name != nullptr && map->l_name[0] != '\0') name = map->l_name;
  }
  if (name == nullptr) {
    const ssize_t n = readlink("/proc/self/exe", out, sizeof(NativePath) - 1);
    if (n <= 0) return false;
    out[n] = 0;
    return true;
  }
  if (name[0] == '/') return Append(out, 0, name);
  // Loaded by a relative path: it was relative to the working folder of the
  // time, which for this module is remembered.
  if (IsThisModule(loadedMap) && loadFolder[0] != 0) {
    if (!Append(out, 0, loadFolder)) return false;
  } else if (getcwd(out, sizeof(NativePath)) == nullptr) {
    return false;
  }
  const std::size_t length = std::strlen(out);
  return Append(out, length, "/") && Append(out, length + 1, name);
}

// `name` as exported by the library behind `handle` itself, not by one of
// the libraries it depends on (dlsym searches those too).
void* OwnSymbol(void* handle, const char* name) {
  void* symbol = dlsym(handle, name);
  if (symbol == nullptr) {
    dlerror();  // leave no stale error for the host
    return nullptr;
  }
  link_map* own = nullptr;
  link_map* holder = nullptr;
  Dl_info info{};
  if (dlinfo(handle, RTLD_DI_LINKMAP, &own) != 0 ||
      dladdr1(symbol, &info, reinterpret_cast<void**>(&holder), RTLD_DL_LINKMAP) == 0) {
    dlerror();
    return nullptr;
  }
  return holder == own ? symbol : nullptr;
}

FARPROC ToFunction(void* symbol) {
  FARPROC function = nullptr;
  static_assert(sizeof(function) == sizeof(symbol));
  std::memcpy(&function, &symbol, sizeof(function));
  return function;
}

// Reads exactly `size` bytes at `offset`.
bool ReadAt(int fd, void* into, std::size_t size, off_t offset) {
  auto* at = static_cast<unsigned char*>(into);
  while (size > 0) {
    const ssize_t got = ::pread(fd, at, size, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    at += got;
    size -= static_cast<std::size_t>(got);
    offset += got;
  }
  return true;
}

// A readable regular file holding a shared library of this process's kind
// (class, byte order and machine as the module's own image) whose program
// headers and every segment the loader maps or reads lie within the file.
bool IsWholeLibrary(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const auto fileSize = static_cast<std::uint64_t>(info.st_size);
  ElfW(Ehdr) header{};
  if (fileSize < sizeof(header) || !ReadAt(fd, &header, sizeof(header), 0)) return false;
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&IsWholeLibrary), &self) == 0 || self.dli_fbase == nullptr) {
    return false;
  }
  const auto* own = static_cast<const ElfW(Ehdr)*>(self.dli_fbase);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != own->e_ident[EI_CLASS] ||
      header.e_ident[EI_DATA] != own->e_ident[EI_DATA] || header.e_type != ET_DYN ||
      header.e_machine != own->e_machine || header.e_phentsize != sizeof(ElfW(Phdr)) ||
      header.e_phnum == 0 || header.e_phnum > 256) {
    return false;
  }
  const std::uint64_t tableEnd = static_cast<std::uint64_t>(header.e_phoff) +
                                 std::uint64_t{header.e_phnum} * sizeof(ElfW(Phdr));
  if (header.e_phoff == 0 || tableEnd > fileSize) return false;
  for (unsigned i = 0; i < header.e_phnum; ++i) {
    ElfW(Phdr) segment{};
    if (!ReadAt(fd, &segment, sizeof(segment),
                static_cast<off_t>(header.e_phoff + i * sizeof(ElfW(Phdr))))) {
      return false;
    }
    if (segment.p_type != PT_LOAD && segment.p_type != PT_DYNAMIC && segment.p_type != PT_INTERP &&
        segment.p_type != PT_NOTE) {
      continue;
    }
    const std::uint64_t offset = segment.p_offset;
    const std::uint64_t size = segment.p_filesz;
    if (offset > fileSize || size > fileSize - offset) return false;
  }
  return true;
}

}  // namespace

HMODULE LoadLibraryW(const char16_t* path) noexcept {
  if (path == nullptr) return nullptr;
  NativePath name;
  if (!Utf16ToUtf8(path, name)) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  // An empty name would hand back the program itself.
  if (name[0] == '\0') return nullptr;
  // The file is judged before the loader sees it: a fifo would hold the
  // loader in open for ever, and a cut-off library kills the process with
  // SIGBUS when the loader touches a segment beyond the file's end.
  int fd;
  do {
    fd = ::open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  if (!IsWholeLibrary(fd)) {
    ::close(fd);
    errno = ENOEXEC;
    return nullptr;
  }
  // The loader opens the name again: a file swapped in between the check
  // and the load is refused afterwards. (Loading through /proc/self/fd would
  // close that gap but give the library a name that is not its file's.)
  void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  struct stat checked {};
  struct stat loaded {};
  if (handle != nullptr && (::fstat(fd, &checked) != 0 || ::stat(name, &loaded) != 0 ||
                            checked.st_dev != loaded.st_dev || checked.st_ino != loaded.st_ino)) {
    dlclose(handle);
    handle = nullptr;
  }
  ::close(fd);
  if (handle == nullptr) dlerror();
  return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, const char* name) noexcept {
  if (module == nullptr || name == nullptr) return nullptr;
  void* handle = module;
  if (void* symbol = OwnSymbol(handle, name); symbol != nullptr) return ToFunction(symbol);
  if (std::strchr(name, '@') == nullptr) return nullptr;

  char elfName[256];
  const std::size_t length = std::strlen(name);
  if (length >= sizeof(elfName)) return nullptr;
  for (std::size_t i = 0; i <= length; ++i) elfName[i] = name[i] == '@' ? '$' : name[i];
  return ToFunction(OwnSymbol(handle, elfName));
}

int FreeLibrary(HMODULE module) noexcept {
  if (module == nullptr) return 0;
  if (dlclose(module) != 0) {
    dlerror();
    return 0;
  }
  return 1;
}

std::uint32_t GetModuleFileNameW(HINSTANCE module, char16_t* buffer, std::uint32_t size) noexcept {
  if (buffer == nullptr || size == 0) return 0;
  NativePath name;
  if (!ModuleFileName(module, name)) {
    buffer[0] = 0;
    return 0;
  }
  const std::size_t length = Utf8ToUtf16(name, buffer, size);
  return length < size ? static_cast<std::uint32_t>(length) : size;
}

int SplitPathW(const char16_t* path, char16_t* drive, std::size_t driveSize, char16_t* dir,
               std::size_t dirSize, char16_t* fname, std::size_t fnameSize, char16_t* ext,
               std::size_t extSize) noexcept {
  struct Part {
    char16_t* out;
    std::size_t size;
    const char16_t* begin = nullptr;
    const char16_t* end = nullptr;
  };
  Part parts[] = {{drive, driveSize}, {dir, dirSize}, {fname, fnameSize}, {ext, extSize}};
  for (const Part& part : parts) {
    if ((part.out == nullptr) != (part.size == 0)) return EINVAL;
  }
  if (path == nullptr) return EINVAL;

  const char16_t* end = path;
  while (*end != 0) ++end;
  const char16_t* p = path;
  if (end - p >= 2 && p[1] == u':') p += 2;
  parts[0].begin = path;
  parts[0].end = p;

  const char16_t* nameStart = p;
  for (const char16_t* q = p; q != end; ++q) {
    if (*q == u'/' || *q == u'\\') nameStart = q + 1;
  }
  parts[1].begin = p;
  parts[1].end = nameStart;

  const char16_t* dot = end;
  for (const char16_t* q = nameStart; q != end; ++q) {
    if (*q == u'.') dot = q;
  }
  parts[2].begin = nameStart;
  parts[2].end = dot;
  parts[3].begin = dot;
  parts[3].end = end;

  bool fits = true;
  for (const Part& part : parts) {
    if (part.out != nullptr && static_cast<std::size_t>(part.end - part.begin) >= part.size) {
      fits = false;
    }
  }
  for (const Part& part : parts) {
    if (part.out == nullptr) continue;
    const std::size_t length = fits ? static_cast<std::size_t>(part.end - part.begin) : 0;
    std::memcpy(part.out, part.begin, length * sizeof(char16_t));
    part.out[length] = 0;
  }
  return fits ? 0 : ERANGE;
}

}  // namespace vorne

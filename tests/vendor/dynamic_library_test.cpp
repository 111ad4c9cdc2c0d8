// The platform's run-time library calls, used on the stand-in libraries.
#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "vendor_fixture.h"

using namespace vorne;

namespace {

using vendor_test::CopyInto;
using vendor_test::StandInTest;
using vendor_test::fs::path;

// The UTF-16 text of a path; ASCII test folders keep this simple.
std::u16string Wide(const std::string& text) {
  std::u16string wide;
  for (unsigned char c : text) wide.push_back(c);
  return wide;
}

// The instance handle of the library that holds `function`.
vorne::HINSTANCE InstanceOf(vorne::FARPROC function) {
  Dl_info info{};
  if (function == nullptr || dladdr(reinterpret_cast<void*>(function), &info) == 0) return nullptr;
  return static_cast<vorne::HINSTANCE>(info.dli_fbase);
}

struct SplitCase {
  const char16_t* path;
  const char16_t* drive;
  const char16_t* dir;
  const char16_t* fname;
  const char16_t* ext;
};

TEST(SplitPathW, SplitsDriveDirectoryNameAndExtension) {
  const SplitCase cases[] = {
      {u"C:\\Hosts\\Plugins\\m.dll", u"C:", u"\\Hosts\\Plugins\\", u"m", u".dll"},
      {u"/opt/host/plugins/vorne.so", u"", u"/opt/host/plugins/", u"vorne", u".so"},
      {u"D:/cams\\v.so", u"D:", u"/cams\\", u"v", u".so"},
      {u"C:m.dll", u"C:", u"", u"m", u".dll"},
      {u"vorne.so", u"", u"", u"vorne", u".so"},
      {u"/a.b/c", u"", u"/a.b/", u"c", u""},
      {u"/x/archive.tar.gz", u"", u"/x/", u"archive.tar", u".gz"},
      {u"/a/b/", u"", u"/a/b/", u"", u""},
      {u"", u"", u"", u"", u""},
  };
  for (const SplitCase& c : cases) {
    char16_t drive[MAX_DRIVE], dir[MAX_DIR], fname[MAX_FNAME], ext[MAX_EXT];
    ASSERT_EQ(SplitPathW(c.path, drive, MAX_DRIVE, dir, MAX_DIR, fname, MAX_FNAME, ext, MAX_EXT),
              0);
    const std::string where =
        "path " + std::string(c.path, c.path + std::u16string_view(c.path).size());
    EXPECT_EQ(std::u16string_view(drive), c.drive) << where;
    EXPECT_EQ(std::u16string_view(dir), c.dir) << where;
    EXPECT_EQ(std::u16string_view(fname), c.fname) << where;
    EXPECT_EQ(std::u16string_view(ext), c.ext) << where;
  }
}

TEST(SplitPathW, APartThatDoesNotFitEmptiesEveryPart) {
  char16_t drive[MAX_DRIVE], dir[MAX_DIR];
  const std::u16string fits = u"/" + std::u16string(MAX_DIR - 3, u'd') + u"/m.so";
  ASSERT_EQ(SplitPathW(fits.c_str(), drive, MAX_DRIVE, dir, MAX_DIR, nullptr, 0, nullptr, 0), 0);
  EXPECT_EQ(std::u16string_view(dir).size(), MAX_DIR - 1);

  const std::u16string tooLong = u"C:/" + std::u16string(MAX_DIR - 2, u'd') + u"/m.so";
  EXPECT_EQ(SplitPathW(tooLong.c_str(), drive, MAX_DRIVE, dir, MAX_DIR, nullptr, 0, nullptr, 0),
            ERANGE);
  EXPECT_EQ(drive[0], 0);
  EXPECT_EQ(dir[0], 0);

  EXPECT_EQ(SplitPathW(nullptr, drive, MAX_DRIVE, nullptr, 0, nullptr, 0, nullptr, 0), EINVAL);
  EXPECT_EQ(SplitPathW(u"/a/b", drive, 0, nullptr, 0, nullptr, 0, nullptr, 0), EINVAL);
}

class DynamicLibraryTest : public StandInTest {};

TEST_F(DynamicLibraryTest, FindsDecoratedNamesUnderTheirElfSpelling) {
  vorne::HMODULE library = vorne::LoadLibraryW(Wide(vendor_test::kRc20StandIn.string()).c_str());
  ASSERT_NE(library, nullptr);
  const char* names[] = {"?MotoUp@@YAXXZ",    "?MotoDown@@YAXXZ",       "?MotoRight@@YAXXZ",
                         "?MotoLeft@@YAXXZ",  "?OpenCam@@YA_NH@Z",      "?CloseCam@@YA_NXZ",
                         "?GetCamNum@@YAHXZ", "?GetCamName@@YA_NHPAD@Z"};
  for (const char* name : names) EXPECT_NE(vorne::GetProcAddress(library, name), nullptr) << name;
  EXPECT_EQ(vorne::GetProcAddress(library, "?MotoUp$$YAXXZ"),
            vorne::GetProcAddress(library, "?MotoUp@@YAXXZ"));

  EXPECT_EQ(vorne::GetProcAddress(library, "?ZoomIn@@YAXXZ"), nullptr);
  EXPECT_EQ(vorne::GetProcAddress(library, "MotoUp"), nullptr);
  // Its own exports only: not what it takes from the C library.
  EXPECT_EQ(vorne::GetProcAddress(library, "fopen"), nullptr);
  EXPECT_EQ(vorne::GetProcAddress(library, nullptr), nullptr);
  EXPECT_EQ(vorne::GetProcAddress(nullptr, "?MotoUp@@YAXXZ"), nullptr);

  reinterpret_cast<void (*)()>(vorne::GetProcAddress(library, "?MotoUp@@YAXXZ"))();
  EXPECT_EQ(vorne::FreeLibrary(library), 1);
  EXPECT_EQ(record_.Take(),
            (std::vector<std::string>{"CDLL_301P.dll: loaded", "CDLL_301P.dll: MotoUp()",
                                      "CDLL_301P.dll: unloaded"}));
  EXPECT_EQ(vorne::FreeLibrary(nullptr), 0);
}

TEST_F(DynamicLibraryTest, FindsTheNamesOfA64BitBuildUnderTheirElfSpelling) {
  vorne::HMODULE library =
      vorne::LoadLibraryW(Wide(vendor_test::kRc20With64BitNames.string()).c_str());
  ASSERT_NE(library, nullptr);
  EXPECT_NE(vorne::GetProcAddress(library, "?GetCamName@@YA_NHPEAD@Z"), nullptr);
  EXPECT_EQ(vorne::GetProcAddress(library, "?GetCamName@@YA_NHPAD@Z"), nullptr);
  EXPECT_NE(vorne::GetProcAddress(library, "?OpenCam@@YA_NH@Z"), nullptr);
  EXPECT_EQ(vorne::FreeLibrary(library), 1);
}

TEST_F(DynamicLibraryTest, RefusesPathsItCannotLoad) {
  EXPECT_EQ(vorne::LoadLibraryW(nullptr), nullptr);
  EXPECT_EQ(vorne::LoadLibraryW(u""), nullptr);
  EXPECT_EQ(vorne::LoadLibraryW(Wide((temp_.Path() / "CDll.dll").string()).c_str()), nullptr);
  // A lone high surrogate stands for no file name.
  CopyInto(vendor_test::kSu320StandIn, temp_.Path());
  const std::u16string broken = Wide(temp_.Path().string()) +
                                u"/\xD800"
                                u"CDll.dll";
  EXPECT_EQ(vorne::LoadLibraryW(broken.c_str()), nullptr);
  EXPECT_TRUE(record_.Take().empty());
}

// Folder names beyond ASCII, and bytes that are no UTF-8 at all, survive
// the way from the file system to UTF-16 and back.
TEST_F(DynamicLibraryTest, FileNamesRoundTripThroughUtf16) {
  struct Case {
    std::string folder;   // as the file system holds it
    std::u16string wide;  // as vorne::GetModuleFileNameW reports it
  };
  const Case cases[] = {
      {"kamera-\xC3\xA4\xC3\xB6-\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x93\xB7",
       u"kamera-\u00E4\u00F6-\u65E5\u672C-\U0001F4F7"},
      {"raw-\xFF\xC3-bytes", u"raw-\xDCFF\xDCC3-bytes"},
  };
  for (const Case& c : cases) {
    const path folder = temp_.Path() / c.folder;
    CopyInto(vendor_test::kSu320StandIn, folder);
    const std::u16string file = Wide(temp_.Path().string()) + u"/" + c.wide + u"/CDll.dll";

    vorne::HMODULE library = vorne::LoadLibraryW(file.c_str());
    ASSERT_NE(library, nullptr) << c.folder;
    char16_t name[MAX_PATH];
    const vorne::HINSTANCE instance = InstanceOf(vorne::GetProcAddress(library, "ZX_Control"));
    ASSERT_EQ(vorne::GetModuleFileNameW(instance, name, MAX_PATH), file.size());
    EXPECT_EQ(std::u16string_view(name), file);
    EXPECT_EQ(vorne::FreeLibrary(library), 1);
  }
}

TEST_F(DynamicLibraryTest, ModuleFileNameIsCutAndSaysSoWhenTheBufferIsShort) {
  vorne::HMODULE library = vorne::LoadLibraryW(Wide(vendor_test::kSu320StandIn.string()).c_str());
  ASSERT_NE(library, nullptr);
  const vorne::HINSTANCE instance = InstanceOf(vorne::GetProcAddress(library, "ZX_Control"));
  const std::u16string full = Wide(vendor_test::kSu320StandIn.string());

  std::u16string buffer(full.size() + 1, u'#');
  EXPECT_EQ(vorne::GetModuleFileNameW(instance, buffer.data(), full.size() + 1), full.size());
  EXPECT_EQ(std::u16string_view(buffer.c_str()), full);

  EXPECT_EQ(vorne::GetModuleFileNameW(instance, buffer.data(), full.size()), full.size());
  EXPECT_EQ(std::u16string_view(buffer.c_str()), full.substr(0, full.size() - 1));
  EXPECT_EQ(vorne::GetModuleFileNameW(instance, buffer.data(), 0), 0u);
  EXPECT_EQ(vorne::GetModuleFileNameW(instance, nullptr, 10), 0u);
  EXPECT_EQ(vorne::FreeLibrary(library), 1);
}

TEST(GetModuleFileNameW, NamesTheProgramForNullAndNothingForStrangers) {
  char program[4096];
  const ssize_t n = readlink("/proc/self/exe", program, sizeof(program) - 1);
  ASSERT_GT(n, 0);
  char16_t name[4096];
  EXPECT_EQ(vorne::GetModuleFileNameW(nullptr, name, 4096), static_cast<std::uint32_t>(n));
  EXPECT_EQ(std::u16string_view(name), Wide(std::string(program, static_cast<std::size_t>(n))));

  // An address inside the program names the program too.
  EXPECT_EQ(vorne::GetModuleFileNameW(AfxGetInstanceHandle(), name, 4096),
            static_cast<std::uint32_t>(n));

  int onTheStack = 0;
  EXPECT_EQ(vorne::GetModuleFileNameW(reinterpret_cast<vorne::HINSTANCE>(&onTheStack), name, 4096),
            0u);
  EXPECT_EQ(name[0], 0);
}

}  // namespace

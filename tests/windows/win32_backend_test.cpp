// The Win32 backend of the platform layer, run under wine: what differs from
// the POSIX backend (device names, baud rates, decorated exports, the system's
// failure texts, binary trace files).
#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "platform/serial_port.h"
#include "platform/wire_trace.h"
#include "vendor/rc20_controller.h"

using namespace vorne;

namespace {

// The folder of the running test program, with its trailing separator.
std::u16string ProgramFolder() {
  char16_t path[MAX_PATH] = {};
  const std::uint32_t length = vorne::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::u16string folder(path, length);
  return folder.substr(0, folder.find_last_of(u"\\/") + 1);
}

std::string TempFile(const char* name) {
  char folder[MAX_PATH];
  ::GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + name;
}

TEST(Win32Serial, TakesTheWindowsOnlyRatesAndRefusesOthers) {
  struct Case {
    const char16_t* settings;
    bool accepted;
  } cases[] = {
      {u"14400,n,8,1", true},  {u"28800,n,8,1", true},  {u"56000,n,8,1", true},
      {u"128000,n,8,1", true}, {u"256000,n,8,1", true}, {u"9600,n,8,1", true},
      {u"115200,e,7,2", true}, {u"12345,n,8,1", false}, {u"0,n,8,1", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseLineSettings(c.settings).has_value(), c.accepted)
        << std::string(c.settings, c.settings + std::char_traits<char16_t>::length(c.settings));
  }
}

TEST(Win32Serial, DevicePathHearsTheProcessEnvironmentBlock) {
  ::SetEnvironmentVariableW(L"VORNE_COM3", nullptr);
  EXPECT_EQ(SerialPort::DevicePath(3), "\\\\.\\COM3");
  EXPECT_EQ(SerialPort::DevicePath(12), "\\\\.\\COM12");
  // Set as a Windows host sets it, past the runtime's copy of the environment.
  ::SetEnvironmentVariableW(L"VORNE_COM3", L"\\\\.\\COM7");
  EXPECT_EQ(SerialPort::DevicePath(3), "\\\\.\\COM7");
  ::SetEnvironmentVariableW(L"VORNE_COM3", nullptr);
  EXPECT_EQ(SerialPort::DevicePath(3), "\\\\.\\COM3");
}

TEST(Win32Serial, OpenFailuresKeepTheirReasonsWithTheSystemsText) {
  const std::string plainFile = TempFile("vorne-not-a-port.txt");
  std::ofstream(plainFile) << "x";
  SerialPort port;
  PortResult result = port.Open(plainFile, LineSettings{});
  EXPECT_EQ(result.status, PortStatus::kNoDevice);
  EXPECT_EQ(result.reason, "not a serial device");
  EXPECT_FALSE(port.IsOpen());
  std::remove(plainFile.c_str());

  result = port.Open("C:\\vorne\\no\\such\\folder\\device", LineSettings{});
  EXPECT_EQ(result.status, PortStatus::kNoDevice);
  // The system's message, not a bare number.
  EXPECT_FALSE(result.reason.empty());
  EXPECT_EQ(result.reason.find("system error"), std::string::npos) << result.reason;
  EXPECT_EQ(result.reason.find('\n'), std::string::npos) << result.reason;
}

TEST(Win32Library, StandInsExportTheVendorsDecoratedNames) {
  const std::u16string standins = ProgramFolder() + u"standins\\";
  vorne::HMODULE rc20 = vorne::LoadLibraryW((standins + u"CDLL_301P.dll").c_str());
  ASSERT_NE(rc20, nullptr);
  for (const char* name :
       {"?MotoUp@@YAXXZ", "?MotoDown@@YAXXZ", "?MotoRight@@YAXXZ", "?MotoLeft@@YAXXZ",
        "?OpenCam@@YA_NH@Z", "?CloseCam@@YA_NXZ", "?GetCamNum@@YAHXZ", "?GetCamName@@YA_NHPAD@Z"}) {
    EXPECT_NE(vorne::GetProcAddress(rc20, name), nullptr) << name;
  }
  // Exact names only: the '$' spelling is an ELF work-around.
  EXPECT_EQ(vorne::GetProcAddress(rc20, "?MotoUp$$YAXXZ"), nullptr);
  EXPECT_EQ(vorne::GetProcAddress(rc20, "standin_MotoUp"), nullptr);
  EXPECT_EQ(vorne::FreeLibrary(rc20), 1);

  vorne::HMODULE partial = vorne::LoadLibraryW((standins + u"no-motoleft\\CDLL_301P.dll").c_str());
  ASSERT_NE(partial, nullptr);
  EXPECT_EQ(vorne::GetProcAddress(partial, "?MotoLeft@@YAXXZ"), nullptr);
  EXPECT_NE(vorne::GetProcAddress(partial, "?MotoRight@@YAXXZ"), nullptr);
  vorne::FreeLibrary(partial);

  vorne::HMODULE su320 = vorne::LoadLibraryW((standins + u"CDll.dll").c_str());
  ASSERT_NE(su320, nullptr);
  EXPECT_NE(vorne::GetProcAddress(su320, "ZX_Control"), nullptr);
  vorne::FreeLibrary(su320);

  EXPECT_EQ(vorne::LoadLibraryW(u""), nullptr);
  EXPECT_EQ(vorne::LoadLibraryW((standins + u"missing.dll").c_str()), nullptr);
  EXPECT_EQ(vorne::FreeLibrary(nullptr), 0);
}

// A vendor library built by a 64-bit Microsoft compiler names GetCamName
// with "PEA" for its pointer argument: the RC20 driver finds it under that
// name when the 32-bit one is missing, in either build.
TEST(Win32Library, GetCamNameIsFoundUnderTheNameOfA64BitBuild) {
  const std::u16string standins = ProgramFolder() + u"standins\\";
  vorne::HMODULE library = vorne::LoadLibraryW((standins + u"64bit-names\\CDLL_301P.dll").c_str());
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(vorne::GetProcAddress(library, "?GetCamName@@YA_NHPAD@Z"), nullptr);
  const vorne::FARPROC named64 = vorne::GetProcAddress(library, "?GetCamName@@YA_NHPEAD@Z");
  EXPECT_NE(named64, nullptr);
  vorne::Rc20Controller controller(library);  // takes the library over
  EXPECT_EQ(reinterpret_cast<vorne::FARPROC>(controller.GetCamName), named64);
  EXPECT_NE(controller.OpenCam, nullptr);
  EXPECT_NE(controller.MotoLeft, nullptr);
}

TEST(Win32Library, ModuleFileNameIsCutWithATerminator) {
  char16_t full[MAX_PATH] = {};
  const std::uint32_t length = vorne::GetModuleFileNameW(nullptr, full, MAX_PATH);
  ASSERT_GT(length, 4u);
  EXPECT_EQ(std::u16string(full + length - 4), u".exe");
  char16_t cut[5] = {u'x', u'x', u'x', u'x', u'x'};
  EXPECT_EQ(vorne::GetModuleFileNameW(nullptr, cut, 5), 5u);
  EXPECT_EQ(cut[4], 0);
  EXPECT_EQ(std::u16string(cut), std::u16string(full, 4));
}

TEST(Win32Library, SplitPathAsTheRuntimeDoes) {
  struct Case {
    const char16_t* path;
    const char16_t* drive;
    const char16_t* dir;
    const char16_t* name;
    const char16_t* ext;
  } cases[] = {
      {u"C:\\Program Files\\Host\\vorne.dll", u"C:", u"\\Program Files\\Host\\", u"vorne", u".dll"},
      {u"Z:/work/bin/vorne.dll", u"Z:", u"/work/bin/", u"vorne", u".dll"},
      {u"vorne", u"", u"", u"vorne", u""},
      {u"a.b\\c", u"", u"a.b\\", u"c", u""},
  };
  for (const Case& c : cases) {
    char16_t drive[MAX_DRIVE], dir[MAX_DIR], name[MAX_FNAME], ext[MAX_EXT];
    ASSERT_EQ(SplitPathW(c.path, drive, MAX_DRIVE, dir, MAX_DIR, name, MAX_FNAME, ext, MAX_EXT), 0);
    EXPECT_EQ(std::u16string(drive), c.drive);
    EXPECT_EQ(std::u16string(dir), c.dir);
    EXPECT_EQ(std::u16string(name), c.name);
    EXPECT_EQ(std::u16string(ext), c.ext);
  }
  char16_t drive[MAX_DRIVE], dir[4];
  EXPECT_EQ(SplitPathW(u"C:\\long\\folder\\f.x", drive, MAX_DRIVE, dir, 4, nullptr, 0, nullptr, 0),
            ERANGE);
  EXPECT_EQ(drive[0], 0);
  EXPECT_EQ(dir[0], 0);
}

TEST(Win32Clock, TicksFollowSleeps) {
  const std::uint32_t start = vorne::GetTickCount();
  vorne::Sleep(60);
  const std::uint32_t waited = vorne::GetTickCount() - start;
  // Generous bounds: wine on a loaded machine.
  EXPECT_GE(waited, 40u);
  EXPECT_LT(waited, 5000u);
}

TEST(Win32Trace, TraceFileLinesEndInNewlineOnly) {
  const std::string path = TempFile("vorne-trace-test.txt");
  std::remove(path.c_str());
  ASSERT_EQ(_putenv_s("VORNE_TRACE", path.c_str()), 0);
  WireTrace* trace = WireTrace::Current();
  ASSERT_NE(trace, nullptr);
  trace->Opened(2, "\\\\.\\COM2", "9600,n,8,1");
  trace->Closed(2);
  _putenv_s("VORNE_TRACE", "");
  EXPECT_EQ(WireTrace::Current(), nullptr);
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  std::remove(path.c_str());
  EXPECT_NE(text.find("COM2 open \\\\.\\COM2 9600,n,8,1\n"), std::string::npos) << text;
  EXPECT_EQ(text.find('\r'), std::string::npos);
}

}  // namespace

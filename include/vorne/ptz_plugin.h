// VORNE pan-tilt-zoom camera-control module: the host-facing binary interface.
//
// A host loads the module (vorne.so / vorne.dll), calls its one exported
// function LumoDll with a PluginEntryTable, and goes on through the four
// entry functions it receives. Everything a host needs is in this header; it
// depends on nothing but the C++ standard library.
//
// Interfaces are abstract classes without a virtual destructor, so their
// tables are plain COM-style tables: slot 0 QueryInterface, 1 AddRef,
// 2 Release, then the interface's own operations in declaration order.
// Strings are UTF-16 (char16_t) on every platform.
#ifndef VORNE_PTZ_PLUGIN_H
#define VORNE_PTZ_PLUGIN_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// Marks the operations that use the callee-cleans convention on 32-bit
// Windows. Everywhere else the platform default is already the right one.
#if defined(_WIN32) && !defined(_WIN64)
#define VORNE_CALL __stdcall
#else
#define VORNE_CALL
#endif

// Variadic operations always leave argument removal to the caller.
#if defined(_WIN32) && !defined(_WIN64)
#define VORNE_CDECL __cdecl
#else
#define VORNE_CDECL
#endif

#if defined(_WIN32)
#define VORNE_EXPORT extern "C" __declspec(dllexport)
#else
#define VORNE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using HRESULT = std::int32_t;

// An opaque window handle. The module never looks behind it: non-null means
// "there is a parent window".
using HWND = struct HWND__*;

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");

// Ids are compared as all 16 bytes.
inline bool IsEqualGUID(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

// Result codes.
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
// CreateInstance with an outer object asks for anything but IUnknown.
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// Class and interface ids.
// {83183AFE-0337-47FD-89BA-50D9DFB11C87} "WCameraControler"
constexpr GUID CLSID_WCameraControler = {
    0x83183AFE, 0x0337, 0x47FD, {0x89, 0xBA, 0x50, 0xD9, 0xDF, 0xB1, 0x1C, 0x87}};
// {CF4C3F43-3060-4C68-BAE1-130145FFB8D5}
constexpr GUID IID_IPtzControl = {
    0xCF4C3F43, 0x3060, 0x4C68, {0xBA, 0xE1, 0x13, 0x01, 0x45, 0xFF, 0xB8, 0xD5}};
// {19B9932D-1068-4ADD-A642-0B95EBF338A9}
constexpr GUID IID_IHostLogFactory = {
    0x19B9932D, 0x1068, 0x4ADD, {0xA6, 0x42, 0x0B, 0x95, 0xEB, 0xF3, 0x38, 0xA9}};
// {00000000-0000-0000-C000-000000000046}
constexpr GUID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The camera command numbers of IPtzControl::Command.
enum PtzCommand : std::int32_t {
  PTZ_STOP = 0,
  PTZ_PAN_LEFT = 1,
  PTZ_PAN_RIGHT = 2,
  PTZ_TILT_UP = 3,
  PTZ_TILT_DOWN = 4,
  PTZ_ZOOM_IN = 5,
  PTZ_ZOOM_OUT = 6,
};

// The camera type numbers listed by GetCameraTypeInfo.
enum PtzCameraType : std::int32_t {
  PTZ_TYPE_EVI_D31 = 0,
  PTZ_TYPE_RC20 = 1,
  PTZ_TYPE_SU_320 = 2,
  PTZ_TYPE_TAC = 3,
  PTZ_TYPE_VIDEOTREC_PWT = 4,
  PTZ_TYPE_PELCO_D = 5,
  PTZ_TYPE_VC_C50I = 6,
  PTZ_TYPE_PELCO_P = 7,
};

class IUnknown {
 public:
  virtual HRESULT VORNE_CALL QueryInterface(const GUID& iid, void** out) = 0;
  virtual std::uint32_t VORNE_CALL AddRef() = 0;
  virtual std::uint32_t VORNE_CALL Release() = 0;
};

// The component's camera-control interface.
class IPtzControl : public IUnknown {
 public:
  // Number of camera types (a count, not a result code).
  virtual std::uint32_t VORNE_CALL GetCameraTypeCount() = 0;
  // Copies the type id and, when it fits with its terminator, the name.
  // Returns the name's length in characters, 0 when nothing was copied, or
  // E_POINTER when id is null.
  virtual HRESULT VORNE_CALL GetCameraTypeInfo(std::uint32_t index, std::int32_t* id,
                                               char16_t* name, std::uint32_t capacity) = 0;
  virtual HRESULT VORNE_CALL CreateController(std::int32_t type, HWND parent,
                                              std::int32_t camera) = 0;
  // Port index is 0-based: 0 selects COM1.
  virtual HRESULT VORNE_CALL SetComPort(std::int32_t portIndex) = 0;
  virtual HRESULT VORNE_CALL Command(std::int32_t command) = 0;
  virtual HRESULT VORNE_CALL DestroyController() = 0;
  virtual HRESULT VORNE_CALL SetBaudRate(std::int32_t baudRate) = 0;
  virtual HRESULT VORNE_CALL SetAddressCode(std::int32_t addressCode) = 0;
};

class IHostLog;

// Answered by the host object given to CreateInstance; the module asks it
// once for its log sink.
class IHostLogFactory : public IUnknown {
 public:
  virtual HRESULT VORNE_CALL CreateLog(const char16_t* moduleName, std::int32_t a, std::int32_t b,
                                       IHostLog** out) = 0;
};

// The host's log sink. The module calls only Release and Log (slot 12);
// slots 3 to 11 belong to the host.
class IHostLog : public IUnknown {
 public:
  virtual HRESULT VORNE_CALL HostSlot3() { return E_NOTIMPL; }
  virtual HRESULT VORNE_CALL HostSlot4() { return E_NOTIMPL; }
  virtual HRESULT VORNE_CALL HostSlot5() { return E_NOTIMPL; }
  virtual HRESULT VORNE_CALL HostSlot6() { return E_NOTIMPL; }
  virtual HRESULT VORNE_CALL HostSlot7() { return E_NOTIMPL; }
  virtual HRESULT VORNE_CALL HostSlot8() { return E_NOTIMPL; }
  virtual HRESULT VORNE_CALL HostSlot9() { return E_NOTIMPL; }
  virtual HRESULT VORNE_CALL HostSlot10() { return E_NOTIMPL; }
  virtual HRESULT VORNE_CALL HostSlot11() { return E_NOTIMPL; }
  // One line per call: a UTF-16 printf format whose only conversions are
  // %d, each matched by one std::int32_t argument. The result is ignored.
  virtual HRESULT VORNE_CDECL Log(const char16_t* format, ...) = 0;
};

// One row of the module's class table.
struct ClassEntry {
  const char16_t* name;
  const GUID* classId;
  std::uint32_t reserved;
  // (outer, host, result) -> the new object's inner unknown, or null.
  IUnknown*(VORNE_CALL* create)(IUnknown* outer, IUnknown* host, HRESULT* result);
};

// Filled by LumoDll. The host sets size to sizeof(PluginEntryTable).
struct PluginEntryTable {
  std::uint32_t size;
  // Writes 0x01000001, 1 and 0 through whichever pointers are non-null.
  HRESULT(VORNE_CALL* GetInfo)(std::uint32_t* first, std::uint32_t* second, std::uint32_t* third);
  HRESULT(VORNE_CALL* GetClassTable)(const ClassEntry** table, std::int32_t* count);
  // S_OK when no component object is alive, S_FALSE otherwise.
  HRESULT(VORNE_CALL* CanUnloadNow)();
  HRESULT(VORNE_CALL* CreateInstance)
  (const GUID* classId, const GUID* iid, IUnknown* outer, IUnknown* host, void** out);
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(PluginEntryTable) == 20, "entry table layout");
static_assert(sizeof(ClassEntry) == 16, "class entry layout");
#elif defined(__x86_64__) || defined(_M_X64) || defined(__aarch64__)
static_assert(sizeof(PluginEntryTable) == 40, "entry table layout");
static_assert(sizeof(ClassEntry) == 32, "class entry layout");
#endif

// The module's one exported function.
using LumoDllFn = HRESULT(VORNE_CALL*)(PluginEntryTable* table);
#define VORNE_ENTRY_NAME "LumoDll"

#endif  // VORNE_PTZ_PLUGIN_H

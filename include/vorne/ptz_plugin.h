/* VORNE pan-tilt-zoom camera-control module: the host-facing binary interface.
 *
 * A host loads the module (vorne.so / vorne.dll), calls its one exported
 * function LumoDll with a PluginEntryTable, and goes on through the four
 * entry functions it receives. Everything a host needs is in this header; it
 * depends on nothing but the language's standard library and compiles as C99
 * and as C++.
 *
 * The interfaces are plain COM-style tables: slot 0 QueryInterface,
 * 1 AddRef, 2 Release, then the interface's own operations in declaration
 * order. C++ sees them as abstract classes without a virtual destructor; C
 * sees each as a struct whose one member, lpVtbl, points to a struct of
 * function pointers in slot order, each taking the object first:
 *
 *     ptz->Command(PTZ_STOP);                  // C++
 *     ptz->lpVtbl->Command(ptz, PTZ_STOP);     // C
 *
 * Strings are UTF-16 (vorne_char16_t: char16_t in C++, uint16_t in C) on
 * every platform. docs/HOSTS.md is the reference for host authors. */
#ifndef VORNE_PTZ_PLUGIN_H
#define VORNE_PTZ_PLUGIN_H

#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
#include <cstring>
#endif
#include <stddef.h>
#include <stdint.h>
#include <string.h>

/* Marks the operations that use the callee-cleans convention on 32-bit
 * Windows. Everywhere else the platform default is already the right one. */
#if defined(_WIN32) && !defined(_WIN64)
#define VORNE_CALL __stdcall
#else
#define VORNE_CALL
#endif

/* Variadic operations always leave argument removal to the caller. */
#if defined(_WIN32) && !defined(_WIN64)
#define VORNE_CDECL __cdecl
#else
#define VORNE_CDECL
#endif

#ifdef __cplusplus
#define VORNE_EXTERN_C extern "C"
#else
#define VORNE_EXTERN_C
#endif
#if defined(_WIN32)
#define VORNE_EXPORT VORNE_EXTERN_C __declspec(dllexport)
#else
#define VORNE_EXPORT VORNE_EXTERN_C __attribute__((visibility("default")))
#endif

/* A compile-time check that both languages accept: static_assert in C++, an
 * array whose size goes negative when the condition fails in C. */
#ifdef __cplusplus
#define VORNE_STATIC_CHECK(condition, name) static_assert(condition, #name)
#else
#define VORNE_STATIC_CHECK(condition, name) typedef char vorne_check_##name[(condition) ? 1 : -1]
#endif

/* One UTF-16 code unit. */
#ifdef __cplusplus
typedef char16_t vorne_char16_t;
#else
typedef uint16_t vorne_char16_t;
#endif

/* Defines an id constant: constexpr in C++, a file-local constant in C. */
#ifdef __cplusplus
#define VORNE_DEFINE_ID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#else
#define VORNE_DEFINE_ID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  static const GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#endif

/* ---- COM base: HRESULT, result codes, GUID, IsEqualGUID, IUnknown, HWND ---
 * On Windows they come from the system's headers, so a host may include
 * <windows.h> before or after this header. Elsewhere the module defines the
 * same layouts itself under the same names. vorne_ulong_t is the type of
 * reference counts: ULONG on Windows, a 32-bit unsigned integer elsewhere. */

#if defined(_WIN32)

#include <windows.h>
/* IUnknown, also where WIN32_LEAN_AND_MEAN leaves out the COM headers. */
#include <unknwn.h>

typedef ULONG vorne_ulong_t;

#else /* not Windows */

typedef uint32_t vorne_ulong_t;

typedef int32_t HRESULT;

#ifdef __cplusplus
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
/* CreateInstance with an outer object asks for anything but IUnknown. */
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
#else
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#define E_POINTER ((HRESULT)0x80004003u)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFu)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define E_NOTIMPL ((HRESULT)0x80004001u)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110u)

#define SUCCEEDED(hr) ((HRESULT)(hr) >= 0)
#define FAILED(hr) ((HRESULT)(hr) < 0)
#endif

typedef struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
VORNE_STATIC_CHECK(sizeof(GUID) == 16, guid_is_16_bytes);

/* Ids are compared as all 16 bytes. C++ takes references, C pointers. */
#ifdef __cplusplus
inline bool IsEqualGUID(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
#else
static inline int IsEqualGUID(const GUID* a, const GUID* b) {
  return memcmp(a, b, sizeof(GUID)) == 0;
}
#endif

/* {00000000-0000-0000-C000-000000000046} */
VORNE_DEFINE_ID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x46);

#ifdef __cplusplus
class IUnknown {
 public:
  virtual HRESULT VORNE_CALL QueryInterface(const GUID& iid, void** out) = 0;
  virtual vorne_ulong_t VORNE_CALL AddRef() = 0;
  virtual vorne_ulong_t VORNE_CALL Release() = 0;

 protected:
  /* Objects end through Release, never through delete on an interface. */
  ~IUnknown() = default;
};
#else
typedef struct IUnknown IUnknown;
typedef struct IUnknownVtbl {
  HRESULT(VORNE_CALL* QueryInterface)(IUnknown* self, const GUID* iid, void** out);
  vorne_ulong_t(VORNE_CALL* AddRef)(IUnknown* self);
  vorne_ulong_t(VORNE_CALL* Release)(IUnknown* self);
} IUnknownVtbl;
struct IUnknown {
  const IUnknownVtbl* lpVtbl;
};
#endif

/* An opaque window handle. The module never looks behind it: non-null means
 * "there is a parent window". */
typedef struct HWND__* HWND;

#endif /* not Windows */

/* ---- end of the COM base ------------------------------------------------ */

/* Class and interface ids. */
/* {83183AFE-0337-47FD-89BA-50D9DFB11C87} "WCameraControler" */
VORNE_DEFINE_ID(CLSID_WCameraControler, 0x83183AFE, 0x0337, 0x47FD, 0x89, 0xBA, 0x50, 0xD9, 0xDF,
                0xB1, 0x1C, 0x87);
/* {CF4C3F43-3060-4C68-BAE1-130145FFB8D5} */
VORNE_DEFINE_ID(IID_IPtzControl, 0xCF4C3F43, 0x3060, 0x4C68, 0xBA, 0xE1, 0x13, 0x01, 0x45, 0xFF,
                0xB8, 0xD5);
/* {19B9932D-1068-4ADD-A642-0B95EBF338A9} */
VORNE_DEFINE_ID(IID_IHostLogFactory, 0x19B9932D, 0x1068, 0x4ADD, 0xA6, 0x42, 0x0B, 0x95, 0xEB, 0xF3,
                0x38, 0xA9);

/* The camera command numbers of IPtzControl::Command. */
#ifdef __cplusplus
enum PtzCommand : int32_t {
#else
enum PtzCommand {
#endif
  PTZ_STOP = 0,
  PTZ_PAN_LEFT = 1,
  PTZ_PAN_RIGHT = 2,
  PTZ_TILT_UP = 3,
  PTZ_TILT_DOWN = 4,
  PTZ_ZOOM_IN = 5,
  PTZ_ZOOM_OUT = 6
};

/* The camera type numbers listed by GetCameraTypeInfo. */
#ifdef __cplusplus
enum PtzCameraType : int32_t {
#else
enum PtzCameraType {
#endif
  PTZ_TYPE_EVI_D31 = 0,
  PTZ_TYPE_RC20 = 1,
  PTZ_TYPE_SU_320 = 2,
  PTZ_TYPE_TAC = 3,
  PTZ_TYPE_VIDEOTREC_PWT = 4,
  PTZ_TYPE_PELCO_D = 5,
  PTZ_TYPE_VC_C50I = 6,
  PTZ_TYPE_PELCO_P = 7
};

#ifdef __cplusplus

/* The component's camera-control interface. */
class IPtzControl : public IUnknown {
 public:
  /* Number of camera types (a count, not a result code). */
  virtual uint32_t VORNE_CALL GetCameraTypeCount() = 0;
  /* Copies the type id and, when it fits with its terminator, the name.
   * Returns the name's length in characters, 0 when nothing was copied, or
   * E_POINTER when id is null. */
  virtual HRESULT VORNE_CALL GetCameraTypeInfo(uint32_t index, int32_t* id, vorne_char16_t* name,
                                               uint32_t capacity) = 0;
  virtual HRESULT VORNE_CALL CreateController(int32_t type, HWND parent, int32_t camera) = 0;
  /* Port index is 0-based: 0 selects COM1. */
  virtual HRESULT VORNE_CALL SetComPort(int32_t portIndex) = 0;
  virtual HRESULT VORNE_CALL Command(int32_t command) = 0;
  virtual HRESULT VORNE_CALL DestroyController() = 0;
  virtual HRESULT VORNE_CALL SetBaudRate(int32_t baudRate) = 0;
  virtual HRESULT VORNE_CALL SetAddressCode(int32_t addressCode) = 0;

 protected:
  ~IPtzControl() = default;
};

class IHostLog;

/* Answered by the host object given to CreateInstance; the module asks it
 * once for its log sink. */
class IHostLogFactory : public IUnknown {
 public:
  virtual HRESULT VORNE_CALL CreateLog(const vorne_char16_t* moduleName, int32_t a, int32_t b,
                                       IHostLog** out) = 0;

 protected:
  ~IHostLogFactory() = default;
};

/* The host's log sink. The module calls only Release and Log (slot 12);
 * slots 3 to 11 belong to the host. */
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
  /* One line per call: a UTF-16 printf format whose only conversions are
   * %d, each matched by one int32_t argument. The result is ignored. */
  virtual HRESULT VORNE_CDECL Log(const vorne_char16_t* format, ...) = 0;

 protected:
  ~IHostLog() = default;
};

#else /* C */

typedef struct IPtzControl IPtzControl;
typedef struct IPtzControlVtbl {
  HRESULT(VORNE_CALL* QueryInterface)(IPtzControl* self, const GUID* iid, void** out);
  vorne_ulong_t(VORNE_CALL* AddRef)(IPtzControl* self);
  vorne_ulong_t(VORNE_CALL* Release)(IPtzControl* self);
  uint32_t(VORNE_CALL* GetCameraTypeCount)(IPtzControl* self);
  HRESULT(VORNE_CALL* GetCameraTypeInfo)
  (IPtzControl* self, uint32_t index, int32_t* id, vorne_char16_t* name, uint32_t capacity);
  HRESULT(VORNE_CALL* CreateController)
  (IPtzControl* self, int32_t type, HWND parent, int32_t camera);
  HRESULT(VORNE_CALL* SetComPort)(IPtzControl* self, int32_t portIndex);
  HRESULT(VORNE_CALL* Command)(IPtzControl* self, int32_t command);
  HRESULT(VORNE_CALL* DestroyController)(IPtzControl* self);
  HRESULT(VORNE_CALL* SetBaudRate)(IPtzControl* self, int32_t baudRate);
  HRESULT(VORNE_CALL* SetAddressCode)(IPtzControl* self, int32_t addressCode);
} IPtzControlVtbl;
struct IPtzControl {
  const IPtzControlVtbl* lpVtbl;
};

typedef struct IHostLog IHostLog;
typedef struct IHostLogVtbl {
  HRESULT(VORNE_CALL* QueryInterface)(IHostLog* self, const GUID* iid, void** out);
  vorne_ulong_t(VORNE_CALL* AddRef)(IHostLog* self);
  vorne_ulong_t(VORNE_CALL* Release)(IHostLog* self);
  HRESULT(VORNE_CALL* HostSlot3)(IHostLog* self);
  HRESULT(VORNE_CALL* HostSlot4)(IHostLog* self);
  HRESULT(VORNE_CALL* HostSlot5)(IHostLog* self);
  HRESULT(VORNE_CALL* HostSlot6)(IHostLog* self);
  HRESULT(VORNE_CALL* HostSlot7)(IHostLog* self);
  HRESULT(VORNE_CALL* HostSlot8)(IHostLog* self);
  HRESULT(VORNE_CALL* HostSlot9)(IHostLog* self);
  HRESULT(VORNE_CALL* HostSlot10)(IHostLog* self);
  HRESULT(VORNE_CALL* HostSlot11)(IHostLog* self);
  HRESULT(VORNE_CDECL* Log)(IHostLog* self, const vorne_char16_t* format, ...);
} IHostLogVtbl;
struct IHostLog {
  const IHostLogVtbl* lpVtbl;
};

typedef struct IHostLogFactory IHostLogFactory;
typedef struct IHostLogFactoryVtbl {
  HRESULT(VORNE_CALL* QueryInterface)(IHostLogFactory* self, const GUID* iid, void** out);
  vorne_ulong_t(VORNE_CALL* AddRef)(IHostLogFactory* self);
  vorne_ulong_t(VORNE_CALL* Release)(IHostLogFactory* self);
  HRESULT(VORNE_CALL* CreateLog)
  (IHostLogFactory* self, const vorne_char16_t* moduleName, int32_t a, int32_t b, IHostLog** out);
} IHostLogFactoryVtbl;
struct IHostLogFactory {
  const IHostLogFactoryVtbl* lpVtbl;
};

/* The tables hold one pointer per slot, with Log in slot 12. */
VORNE_STATIC_CHECK(sizeof(IUnknownVtbl) == 3 * sizeof(void*), unknown_table_slots);
VORNE_STATIC_CHECK(sizeof(IPtzControlVtbl) == 11 * sizeof(void*), ptz_control_table_slots);
VORNE_STATIC_CHECK(offsetof(IPtzControlVtbl, SetAddressCode) == 10 * sizeof(void*),
                   ptz_control_last_slot);
VORNE_STATIC_CHECK(sizeof(IHostLogFactoryVtbl) == 4 * sizeof(void*), log_factory_table_slots);
VORNE_STATIC_CHECK(offsetof(IHostLogVtbl, Log) == 12 * sizeof(void*), host_log_slot_12);

#endif /* C */

/* An interface object is one pointer to its table, in both languages. */
VORNE_STATIC_CHECK(sizeof(IUnknown) == sizeof(void*), unknown_is_a_table_pointer);
VORNE_STATIC_CHECK(sizeof(IPtzControl) == sizeof(void*), ptz_control_is_a_table_pointer);
VORNE_STATIC_CHECK(sizeof(IHostLogFactory) == sizeof(void*), log_factory_is_a_table_pointer);
VORNE_STATIC_CHECK(sizeof(IHostLog) == sizeof(void*), host_log_is_a_table_pointer);

/* One row of the module's class table. */
typedef struct ClassEntry {
  const vorne_char16_t* name;
  const GUID* classId;
  uint32_t reserved;
  /* (outer, host, result) -> the new object's inner unknown, or null. */
  IUnknown*(VORNE_CALL* create)(IUnknown* outer, IUnknown* host, HRESULT* result);
} ClassEntry;

/* Filled by LumoDll. The host sets size to sizeof(PluginEntryTable). */
typedef struct PluginEntryTable {
  uint32_t size;
  /* Writes 0x01000001, 1 and 0 through whichever pointers are non-null. */
  HRESULT(VORNE_CALL* GetInfo)(uint32_t* first, uint32_t* second, uint32_t* third);
  HRESULT(VORNE_CALL* GetClassTable)(const ClassEntry** table, int32_t* count);
  /* S_OK when no component object is alive, S_FALSE otherwise. */
  HRESULT(VORNE_CALL* CanUnloadNow)(void);
  HRESULT(VORNE_CALL* CreateInstance)
  (const GUID* classId, const GUID* iid, IUnknown* outer, IUnknown* host, void** out);
} PluginEntryTable;

/* Every field sits on a pointer-sized step: 20 and 16 bytes on 32-bit
 * Windows, 40 and 32 on 64-bit systems. */
VORNE_STATIC_CHECK(offsetof(PluginEntryTable, GetInfo) == sizeof(void*), entry_table_first_entry);
VORNE_STATIC_CHECK(offsetof(PluginEntryTable, CreateInstance) == 4 * sizeof(void*),
                   entry_table_last_entry);
VORNE_STATIC_CHECK(sizeof(PluginEntryTable) == 5 * sizeof(void*), entry_table_size);
VORNE_STATIC_CHECK(offsetof(ClassEntry, reserved) == 2 * sizeof(void*), class_entry_reserved);
VORNE_STATIC_CHECK(offsetof(ClassEntry, create) == 3 * sizeof(void*), class_entry_create);
VORNE_STATIC_CHECK(sizeof(ClassEntry) == 4 * sizeof(void*), class_entry_size);
#if defined(_WIN32) && !defined(_WIN64)
VORNE_STATIC_CHECK(sizeof(PluginEntryTable) == 20, entry_table_layout);
VORNE_STATIC_CHECK(sizeof(ClassEntry) == 16, class_entry_layout);
#elif defined(__x86_64__) || defined(_M_X64) || defined(__aarch64__)
VORNE_STATIC_CHECK(sizeof(PluginEntryTable) == 40, entry_table_layout);
VORNE_STATIC_CHECK(sizeof(ClassEntry) == 32, class_entry_layout);
#endif

/* The module's one exported function. */
typedef HRESULT(VORNE_CALL* LumoDllFn)(PluginEntryTable* table);
#define VORNE_ENTRY_NAME "LumoDll"

#endif /* VORNE_PTZ_PLUGIN_H */

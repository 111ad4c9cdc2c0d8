/* A host written in C99 against vorne/ptz_plugin.h alone, as a plain-C host
 * or an FFI binding sees the module: load it, list the camera types, attach
 * a log sink, pan a Pelco-D camera on COM1 and stop it, unload.
 *
 *   vorne-c-host MODULE
 *
 * Prints the module's log lines as "module: ..." and the camera types as
 * "type N NAME" on standard output. Exits 0 when every result was the
 * expected one, 1 on a wrong result (named on standard error), 2 when the
 * module cannot be loaded. */
#define _POSIX_C_SOURCE 200809L

#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "vorne/ptz_plugin.h"

static int failures = 0;

static void Expect(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "c host: %s\n", what);
    ++failures;
  }
}

/* UTF-16 text of the module is ASCII; anything else shows as '?'. */
static void ToAscii(const vorne_char16_t* text, char* out, size_t size) {
  size_t n = 0;
  for (; text[n] != 0 && n + 1 < size; ++n) out[n] = text[n] < 0x80 ? (char)text[n] : '?';
  out[n] = '\0';
}

static int SameText(const vorne_char16_t* text, const char* ascii) {
  char buffer[64];
  ToAscii(text, buffer, sizeof buffer);
  return strcmp(buffer, ascii) == 0;
}

/* ---- the log sink ---- */

typedef struct Sink {
  IHostLog iface; /* first, so an IHostLog* is a Sink* */
  uint32_t refs;
  int lines;
  int sawPortLine;
} Sink;

static HRESULT VORNE_CALL SinkQueryInterface(IHostLog* self, const GUID* iid, void** out) {
  if (out == NULL) return E_POINTER;
  if (!IsEqualGUID(iid, &IID_IUnknown)) {
    *out = NULL;
    return E_NOINTERFACE;
  }
  *out = self;
  self->lpVtbl->AddRef(self);
  return S_OK;
}
static uint32_t VORNE_CALL SinkAddRef(IHostLog* self) { return ++((Sink*)self)->refs; }
static uint32_t VORNE_CALL SinkRelease(IHostLog* self) { return --((Sink*)self)->refs; }
static HRESULT VORNE_CALL SinkHostSlot(IHostLog* self) {
  (void)self;
  return E_NOTIMPL;
}

/* The formats hold %d conversions only, each matched by one int32_t. */
static HRESULT VORNE_CDECL SinkLog(IHostLog* self, const vorne_char16_t* format, ...) {
  Sink* sink = (Sink*)self;
  char line[256];
  size_t n = 0;
  const vorne_char16_t* p;
  va_list args;
  va_start(args, format);
  for (p = format; *p != 0 && n + 16 < sizeof line; ++p) {
    if (p[0] == '%' && p[1] == 'd') {
      n += (size_t)sprintf(line + n, "%d", (int)va_arg(args, int32_t));
      ++p;
    } else {
      line[n++] = *p < 0x80 ? (char)*p : '?';
    }
  }
  va_end(args);
  line[n] = '\0';
  printf("module: %s", line);
  ++sink->lines;
  if (strcmp(line, "Set Control COM Port 1.\n") == 0) sink->sawPortLine = 1;
  return S_OK;
}

static const IHostLogVtbl sinkTable = {
    SinkQueryInterface, SinkAddRef,   SinkRelease,  SinkHostSlot, SinkHostSlot,
    SinkHostSlot,       SinkHostSlot, SinkHostSlot, SinkHostSlot, SinkHostSlot,
    SinkHostSlot,       SinkHostSlot, SinkLog};

/* ---- the host object: answers IHostLogFactory ---- */

typedef struct Host {
  IHostLogFactory iface;
  uint32_t refs;
  Sink* sink;
  int createLogCalls;
} Host;

static HRESULT VORNE_CALL HostQueryInterface(IHostLogFactory* self, const GUID* iid, void** out) {
  if (out == NULL) return E_POINTER;
  if (!IsEqualGUID(iid, &IID_IUnknown) && !IsEqualGUID(iid, &IID_IHostLogFactory)) {
    *out = NULL;
    return E_NOINTERFACE;
  }
  *out = self;
  self->lpVtbl->AddRef(self);
  return S_OK;
}
static uint32_t VORNE_CALL HostAddRef(IHostLogFactory* self) { return ++((Host*)self)->refs; }
static uint32_t VORNE_CALL HostRelease(IHostLogFactory* self) { return --((Host*)self)->refs; }
static HRESULT VORNE_CALL HostCreateLog(IHostLogFactory* self, const vorne_char16_t* name,
                                        int32_t a, int32_t b, IHostLog** out) {
  Host* host = (Host*)self;
  ++host->createLogCalls;
  Expect(name != NULL && SameText(name, "VORNE") && a == 3 && b == 2,
         "CreateLog was not asked with (\"VORNE\", 3, 2)");
  if (out == NULL) return E_POINTER;
  /* The reference handed out becomes the module's. */
  host->sink->iface.lpVtbl->AddRef(&host->sink->iface);
  *out = &host->sink->iface;
  return S_OK;
}

static const IHostLogFactoryVtbl hostTable = {HostQueryInterface, HostAddRef, HostRelease,
                                              HostCreateLog};

static void SleepMs(long ms) {
  struct timespec wait;
  wait.tv_sec = ms / 1000;
  wait.tv_nsec = (ms % 1000) * 1000000L;
  nanosleep(&wait, NULL);
}

int main(int argc, char** argv) {
  Sink sink = {{&sinkTable}, 1, 0, 0}; /* the host keeps its own reference */
  Host host = {{&hostTable}, 1, NULL, 0};
  PluginEntryTable entries;
  const ClassEntry* classes = NULL;
  int32_t classCount = 0;
  IPtzControl* ptz = NULL;
  LumoDllFn lumo = NULL;
  void* symbol;
  void* lib;
  uint32_t index;
  uint32_t count;

  if (argc != 2) {
    fprintf(stderr, "usage: vorne-c-host MODULE\n");
    return 2;
  }
  lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (lib == NULL) {
    fprintf(stderr, "c host: cannot load module: %s\n", dlerror());
    return 2;
  }
  /* ISO C has no cast from an object pointer to a function pointer. */
  symbol = dlsym(lib, VORNE_ENTRY_NAME);
  if (symbol == NULL) {
    fprintf(stderr, "c host: no " VORNE_ENTRY_NAME ": %s\n", dlerror());
    return 2;
  }
  memcpy(&lumo, &symbol, sizeof lumo);
  memset(&entries, 0, sizeof entries);
  entries.size = sizeof entries;
  if (FAILED(lumo(&entries))) {
    fprintf(stderr, "c host: " VORNE_ENTRY_NAME " refused the table\n");
    return 2;
  }
  host.sink = &sink;

  Expect(entries.GetClassTable(&classes, &classCount) == S_OK && classCount == 1, "GetClassTable");
  Expect(classCount >= 1 && SameText(classes[0].name, "WCameraControler") &&
             IsEqualGUID(classes[0].classId, &CLSID_WCameraControler),
         "class table row");
  if (FAILED(entries.CreateInstance(&CLSID_WCameraControler, &IID_IPtzControl, NULL,
                                    (IUnknown*)&host.iface, (void**)&ptz)) ||
      ptz == NULL) {
    fprintf(stderr, "c host: cannot create WCameraControler\n");
    return 1;
  }
  Expect(host.createLogCalls == 1 && sink.refs == 2, "the module holds one sink reference");
  Expect(host.refs == 1, "the module keeps no reference on the host object");

  /* The camera types: GetCameraTypeInfo answers the name's length. */
  count = ptz->lpVtbl->GetCameraTypeCount(ptz);
  Expect(count == 8, "GetCameraTypeCount");
  for (index = 0; index < count; ++index) {
    vorne_char16_t name[32];
    char ascii[32];
    int32_t id = -1;
    const HRESULT length = ptz->lpVtbl->GetCameraTypeInfo(ptz, index, &id, name, 32);
    ToAscii(name, ascii, sizeof ascii);
    Expect(length > 0 && (size_t)length == strlen(ascii) && id == (int32_t)index,
           "GetCameraTypeInfo length and id");
    printf("type %d %s\n", (int)id, ascii);
  }
  {
    vorne_char16_t tooSmall[7];
    int32_t id = -1;
    Expect(ptz->lpVtbl->GetCameraTypeInfo(ptz, 0, &id, tooSmall, 7) == 0 && id == 0,
           "a name that does not fit with its terminator is not copied");
    Expect(ptz->lpVtbl->GetCameraTypeInfo(ptz, 0, NULL, tooSmall, 7) == E_POINTER,
           "GetCameraTypeInfo without an id pointer");
  }

  /* One motion on a Pelco-D camera on COM1 (VORNE_COM1). */
  Expect(ptz->lpVtbl->Command(ptz, PTZ_STOP) == E_UNEXPECTED, "Command without a controller");
  Expect(ptz->lpVtbl->CreateController(ptz, PTZ_TYPE_PELCO_D, (HWND)(uintptr_t)1, 0) == S_OK,
         "CreateController(PELCO_D)");
  Expect(ptz->lpVtbl->SetComPort(ptz, 0) == S_OK, "SetComPort(0)");
  Expect(ptz->lpVtbl->SetBaudRate(ptz, 9600) == S_OK, "SetBaudRate(9600)");
  Expect(ptz->lpVtbl->SetAddressCode(ptz, 1) == S_OK, "SetAddressCode(1)");
  Expect(ptz->lpVtbl->Command(ptz, PTZ_PAN_LEFT) == S_OK, "Command(pan left)");
  SleepMs(100);
  Expect(ptz->lpVtbl->Command(ptz, PTZ_STOP) == S_OK, "Command(stop)");
  Expect(ptz->lpVtbl->DestroyController(ptz) == S_OK, "DestroyController");
  Expect(sink.sawPortLine, "the sink got \"Set Control COM Port 1.\"");

  Expect(entries.CanUnloadNow() == S_FALSE, "CanUnloadNow with a live component");
  Expect(ptz->lpVtbl->Release(ptz) == 0, "the last Release answers 0");
  Expect(entries.CanUnloadNow() == S_OK, "CanUnloadNow after the last Release");
  Expect(sink.refs == 2, "the sink is held until the module is unloaded");
  dlclose(lib);
  Expect(sink.refs == 1, "unloading released the sink");

  printf("c host: %d log lines, %s\n", sink.lines, failures == 0 ? "ok" : "FAILED");
  return failures == 0 ? 0 : 1;
}

#include "vendor/rc20_controller.h"

#include "vendor/module_directory.h"

namespace vorne {

namespace {

// A function under its 32-bit Microsoft compiler's decorated name, and only when that is missing
// under the name a 64-bit one gives: a pointer argument is decorated "PEA" (a 64-bit pointer) there
// instead of "PA". Functions without pointer arguments are named alike by
// both, so they have no second name. The same on every platform build.
template <typename Function>
Function Lookup(HMODULE library, const char* name, const char* name64 = nullptr) {
  FARPROC found = GetProcAddress(library, name);
  if (found == nullptr && name64 != nullptr) found = GetProcAddress(library, name64);
  return reinterpret_cast<Function>(found);
}

}  // namespace

Rc20Controller::Rc20Controller() noexcept : Rc20Controller(LoadLibraryBesideModule(kLibraryName)) {}

Rc20Controller::Rc20Controller(HMODULE loaded) noexcept : library(loaded) {
  if (library == nullptr) return;
  // The vendor's decorated names, looked up in this order; GetCamName, the
  // one with a pointer argument, also under a 64-bit build's name.
  MotoUp = Lookup<MotorFn>(library, "?MotoUp@@YAXXZ");
  MotoDown = Lookup<MotorFn>(library, "?MotoDown@@YAXXZ");
  MotoRight = Lookup<MotorFn>(library, "?MotoRight@@YAXXZ");
  MotoLeft = Lookup<MotorFn>(library, "?MotoLeft@@YAXXZ");
  OpenCam = Lookup<OpenCamFn>(library, "?OpenCam@@YA_NH@Z");
  CloseCam = Lookup<CloseCamFn>(library, "?CloseCam@@YA_NXZ");
  GetCamNum = Lookup<GetCamNumFn>(library, "?GetCamNum@@YAHXZ");
  GetCamName = Lookup<GetCamNameFn>(library, "?GetCamName@@YA_NHPAD@Z", "?GetCamName@@YA_NHPEAD@Z");
}

Rc20Controller::~Rc20Controller() {
  if (library != nullptr) FreeLibrary(library);
}

int Rc20Controller::Init(CWnd*, int nCamera) {
  camera = nCamera;
  return 1;
}

int Rc20Controller::Move(MotorFn motor) {
  static_assert(sizeof(bool) == 1, "the library's bool is one byte");
  if (GetCamNum != nullptr) GetCamNum();
  if (GetCamName != nullptr) {
    char name[512] = {};  // scratch: the library fills it, nobody reads it
    GetCamName(0, name);
  }
  if (OpenCam != nullptr) OpenCam(0);
  if (motor != nullptr) {
    motor();
    return 1;
  }
  // Without its motor the camera opened above is closed again.
  if (CloseCam != nullptr) CloseCam();
  return 0;
}

}  // namespace vorne

#include "vendor/su320_controller.h"

#include "vendor/module_directory.h"

namespace vorne {

Su320Controller::Su320Controller() noexcept
    : Su320Controller(LoadLibraryBesideModule(kLibraryName)) {}

Su320Controller::Su320Controller(HMODULE loaded) noexcept : library(loaded) {
  if (library == nullptr) return;
  ZX_Control = reinterpret_cast<ZxControlFn>(GetProcAddress(library, "ZX_Control"));
}

Su320Controller::~Su320Controller() {
  if (library != nullptr) FreeLibrary(library);
}

int Su320Controller::Init(CWnd*, int nCamera) {
  camera = nCamera;
  return 1;
}

int Su320Controller::Move(Direction code) {
  if (ZX_Control == nullptr) return 0;
  ZX_Control(code, camera);
  return 1;
}

}  // namespace vorne

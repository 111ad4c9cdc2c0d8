// Camera type "SU_320": moved through ZX_Control of the vendor library
// "CDll.dll" found beside the module.
#ifndef VORNE_VENDOR_SU320_CONTROLLER_H
#define VORNE_VENDOR_SU320_CONTROLLER_H

#include <cstdint>

#include "driver/ptz_controller.h"
#include "platform/dynamic_library.h"
#include "vorne/ptz_plugin.h"

namespace vorne {

class Su320Controller final : public PtzController {
 public:
  // ZX_Control(direction code, camera number); the caller removes the
  // arguments and no result is read.
  using ZxControlFn = void(VORNE_CDECL*)(std::int32_t code, std::int32_t camera);

  // Direction codes of ZX_Control.
  enum Direction : std::int32_t { kTiltUp = 0, kTiltDown = 1, kPanLeft = 2, kPanRight = 3 };

  static constexpr const char16_t* kLibraryName = u"CDll.dll";

  // Loads the library from the module's directory. Without it the
  // controller still exists and moves nothing.
  Su320Controller() noexcept;
  // Takes over `library` (may be null) and looks up ZX_Control.
  explicit Su320Controller(HMODULE library) noexcept;
  ~Su320Controller() override;

  // Keeps the camera number, which goes with every call.
  int Init(CWnd* parent, int nCamera) override;
  void Close() override {}
  int SetComPort(int) override { return 1; }
  int PanLeft() override { return Move(kPanLeft); }
  int PanRight() override { return Move(kPanRight); }
  int TiltUp() override { return Move(kTiltUp); }
  int TiltDown() override { return Move(kTiltDown); }
  int ZoomIn() override { return 0; }
  int ZoomOut() override { return 0; }
  void Stop() override {}
  int SetBaudRate(int) override { return 0; }
  int SetAddressCode(int) override { return 0; }

  // Null when the library or the function is missing.
  ZxControlFn ZX_Control = nullptr;
  HMODULE library = nullptr;

 private:
  int Move(Direction code);
};

}  // namespace vorne

#endif

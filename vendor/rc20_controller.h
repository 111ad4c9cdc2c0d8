// Camera type "RC20": moved through the vendor library "CDLL_301P.dll"
// found beside the module.
#ifndef VORNE_VENDOR_RC20_CONTROLLER_H
#define VORNE_VENDOR_RC20_CONTROLLER_H

#include <cstdint>

#include "driver/ptz_controller.h"
#include "platform/dynamic_library.h"
#include "vorne/ptz_plugin.h"

namespace vorne {

class Rc20Controller final : public PtzController {
 public:
  // The library's functions. The caller removes the arguments; a bool is
  // one byte.
  using MotorFn = void(VORNE_CDECL*)();
  using OpenCamFn = bool(VORNE_CDECL*)(std::int32_t index);
  using CloseCamFn = bool(VORNE_CDECL*)();
  using GetCamNumFn = std::int32_t(VORNE_CDECL*)();
  using GetCamNameFn = bool(VORNE_CDECL*)(std::int32_t index, char* name);

  static constexpr const char16_t* kLibraryName = u"CDLL_301P.dll";

  // Loads the library from the module's directory. Without it the
  // controller still exists and moves nothing.
  Rc20Controller() noexcept;
  // Takes over `library` (may be null) and looks up its functions: each by
  // its 32-bit decorated name, then, if that is missing and the 64-bit
  // decoration differs (pointer arguments: "PEA" for "PA"), by that one.
  explicit Rc20Controller(HMODULE library) noexcept;
  ~Rc20Controller() override;

  // Keeps the camera number; the library is always asked for camera 0.
  int Init(CWnd* parent, int nCamera) override;
  void Close() override {}
  int SetComPort(int) override { return 1; }
  // The library's left and right are the other way round.
  int PanLeft() override { return Move(MotoRight); }
  int PanRight() override { return Move(MotoLeft); }
  int TiltUp() override { return Move(MotoUp); }
  int TiltDown() override { return Move(MotoDown); }
  int ZoomIn() override { return 0; }
  int ZoomOut() override { return 0; }
  void Stop() override {}
  int SetBaudRate(int) override { return 0; }
  int SetAddressCode(int) override { return 0; }

  // Entries into the library; null when it lacks the function or is missing.
  OpenCamFn OpenCam = nullptr;
  GetCamNumFn GetCamNum = nullptr;
  GetCamNameFn GetCamName = nullptr;
  CloseCamFn CloseCam = nullptr;
  MotorFn MotoUp = nullptr;
  MotorFn MotoDown = nullptr;
  MotorFn MotoRight = nullptr;
  MotorFn MotoLeft = nullptr;
  HMODULE library = nullptr;

 private:
  // Opens camera 0 and runs `motor`: 1 when it ran, 0 otherwise. What the
  // library throws is left to the component, which answers with a result code.
  int Move(MotorFn motor);
};

}  // namespace vorne

#endif

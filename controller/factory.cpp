#include "controller/factory.h"

#include <array>

#include "controller/camera_types.h"
#include "driver/ptz_controller.h"
#include "hostlog/host_log.h"
#include "protocols/canon_vc.h"
#include "protocols/drivers.h"
#include "protocols/tac.h"
#include "vendor/rc20_controller.h"
#include "vendor/su320_controller.h"

namespace vorne {

namespace {

using Maker = PtzController* (*)();

template <typename Driver>
PtzController* Make() noexcept {
  // Construction fails only for want of memory; that is a refusal like any
  // other, not an exception for the host.
  try {
    return new Driver();
  } catch (...) {
    return nullptr;
  }
}

// One maker per catalogue row, in row order. A row without a driver is
// refused like an unknown type.
constexpr std::array<Maker, kCameraTypeCount> kMakers = {
    &Make<ViscaController>,      // 0 EVI_D31
    &Make<Rc20Controller>,       // 1 RC20
    &Make<Su320Controller>,      // 2 SU_320
    &Make<TacController>,        // 3 TAC
    &Make<VideotrecController>,  // 4 VIDEOTREC_PWT
    &Make<PelcoDController>,     // 5 PELCO_D
    &Make<CanonVcController>,    // 6 VC_C50i
    &Make<PelcoPController>,     // 7 PELCO_P
};

}  // namespace

PtzController* CreatePtzController(std::uint32_t type, CWnd* parent, int nCamera) noexcept {
  if (type >= kMakers.size() || kMakers[type] == nullptr) {
    HostLogLine(u"Unknown Camera Type,Type = %d,nCamera = %d.\n", type, nCamera);
    return nullptr;
  }
  PtzController* controller = kMakers[type]();
  if (controller == nullptr) return nullptr;
  if (controller->Init(parent, nCamera) != 0) return controller;

  HostLogLine(u"Create Camera Controler Failed,Type = %d,nCamera = %d.\n", type, nCamera);
  delete controller;  // never initialised, so not closed either
  return nullptr;
}

void DestroyPtzController(PtzController* controller) noexcept {
  if (controller == nullptr) return;
  controller->Close();
  delete controller;
}

}  // namespace vorne

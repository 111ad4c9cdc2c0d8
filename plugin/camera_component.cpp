#include "plugin/camera_component.h"

#include <new>
#include <utility>

#include "controller/camera_types.h"
#include "controller/factory.h"
#include "driver/ptz_controller.h"
#include "platform/interlocked.h"
#include "platform/window.h"
#include "plugin/module_lock.h"

namespace vorne {

namespace {

// Counts never report less than 1 while the object lives.
std::uint32_t AtLeastOne(std::int32_t count) {
  return count < 1 ? 1u : static_cast<std::uint32_t>(count);
}

HRESULT FromResult(int result) { return result != 0 ? S_OK : E_FAIL; }

// Nothing may leave an interface operation: a C++ exception crossing into
// the host ends its process. Drivers catch their own port errors; this
// catches what is left (memory exhaustion, a vendor library that throws).
// `failure` is what the operation answers then, one of its usual results.
template <typename Body>
HRESULT Guarded(HRESULT failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

}  // namespace

AggregatableUnknown::AggregatableUnknown(IUnknown* outer) noexcept
    : outer_(outer != nullptr ? outer : this) {
  InterlockedIncrement(&ModuleLockCount);
}

AggregatableUnknown::~AggregatableUnknown() { InterlockedDecrement(&ModuleLockCount); }

HRESULT VORNE_CALL AggregatableUnknown::QueryInterface(const GUID& iid, void** out) noexcept {
  if (out == nullptr) return E_POINTER;
  if (IUnknown* found = FindInterface(iid); found != nullptr) {
    *out = found;
    found->AddRef();  // an interface other than the inner one counts on the outer
    return S_OK;
  }
  if (IsEqualGUID(iid, IID_IUnknown)) {
    *out = InnerUnknown();
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

vorne_ulong_t VORNE_CALL AggregatableUnknown::AddRef() noexcept {
  return AtLeastOne(InterlockedIncrement(&refs_));
}

vorne_ulong_t VORNE_CALL AggregatableUnknown::Release() noexcept {
  const std::int32_t count = InterlockedDecrement(&refs_);
  if (count != 0) return AtLeastOne(count);
  // Guards against a re-entrant release during destruction.
  refs_.store(1);
  Destroy();
  return 0;
}

void VORNE_CALL AggregatableUnknown::Destroy() noexcept { delete this; }

// The host object reaches the module through the log channel alone, which the
// entry function attached before this runs.
IUnknown* VORNE_CALL CameraComponent::Create(IUnknown* outer, IUnknown* /*host*/,
                                             HRESULT* result) noexcept {
  if (result == nullptr) return nullptr;
  auto* component = new (std::nothrow) CameraComponent(outer);
  if (component == nullptr) return nullptr;
  *result = S_OK;
  return component->InnerUnknown();
}

CameraComponent::~CameraComponent() { DestroyController(); }

IUnknown* CameraComponent::FindInterface(const GUID& iid) noexcept {
  if (IsEqualGUID(iid, IID_IPtzControl)) return static_cast<IPtzControl*>(this);
  return nullptr;
}

std::uint32_t VORNE_CALL CameraComponent::GetCameraTypeCount() noexcept {
  return CameraTypeCount();
}

HRESULT VORNE_CALL CameraComponent::GetCameraTypeInfo(std::uint32_t index, std::int32_t* id,
                                                      char16_t* name,
                                                      std::uint32_t capacity) noexcept {
  if (id == nullptr) return E_POINTER;
  return CameraTypeInfo(index, id, name, capacity);
}

HRESULT VORNE_CALL CameraComponent::CreateController(std::int32_t type, HWND parent,
                                                     std::int32_t camera) noexcept {
  if (controller_ != nullptr) DestroyController();
  return Guarded(E_FAIL, [&] {
    CWnd* parentWindow = parent != nullptr ? CWnd::FromHandle(parent) : nullptr;
    controller_ = CreatePtzController(static_cast<std::uint32_t>(type), parentWindow, camera);
    return controller_ != nullptr ? S_OK : E_FAIL;
  });
}

HRESULT VORNE_CALL CameraComponent::SetComPort(std::int32_t portIndex) noexcept {
  if (controller_ == nullptr) return E_UNEXPECTED;
  return Guarded(E_FAIL, [&] { return FromResult(controller_->SetComPort(portIndex)); });
}

HRESULT VORNE_CALL CameraComponent::Command(std::int32_t command) noexcept {
  if (controller_ == nullptr) return E_UNEXPECTED;
  // A motion's failure is never reported, a thrown one included.
  return Guarded(S_OK, [&] {
    switch (static_cast<std::uint32_t>(command)) {
      case PTZ_STOP: controller_->Stop(); break;
      case PTZ_PAN_LEFT: controller_->PanLeft(); break;
      case PTZ_PAN_RIGHT: controller_->PanRight(); break;
      case PTZ_TILT_UP: controller_->TiltUp(); break;
      case PTZ_TILT_DOWN: controller_->TiltDown(); break;
      case PTZ_ZOOM_IN: controller_->ZoomIn(); break;
      case PTZ_ZOOM_OUT: controller_->ZoomOut(); break;
      default: break;  // unknown commands do nothing
    }
    return S_OK;  // the motion's own result is not reported
  });
}

HRESULT VORNE_CALL CameraComponent::DestroyController() noexcept {
  if (controller_ != nullptr) {
    PtzController* controller = std::exchange(controller_, nullptr);
    Guarded(S_OK, [&] {
      DestroyPtzController(controller);
      return S_OK;
    });
  }
  return S_OK;
}

HRESULT VORNE_CALL CameraComponent::SetBaudRate(std::int32_t baudRate) noexcept {
  if (controller_ == nullptr) return E_UNEXPECTED;
  return Guarded(E_FAIL, [&] { return FromResult(controller_->SetBaudRate(baudRate)); });
}

HRESULT VORNE_CALL CameraComponent::SetAddressCode(std::int32_t addressCode) noexcept {
  if (controller_ == nullptr) return E_UNEXPECTED;
  return Guarded(E_FAIL, [&] { return FromResult(controller_->SetAddressCode(addressCode)); });
}

}  // namespace vorne

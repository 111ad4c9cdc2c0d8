// "WCameraControler": the module's one component class.
#ifndef VORNE_PLUGIN_CAMERA_COMPONENT_H
#define VORNE_PLUGIN_CAMERA_COMPONENT_H

#include <atomic>
#include <cstdint>

#include "vorne/ptz_plugin.h"

namespace vorne {

class PtzController;

// The non-delegating unknown of an aggregatable object: slots 0..2 work on
// the object's own count, slot 3 destroys it.
class IInnerUnknown : public IUnknown {
 public:
  virtual void VORNE_CALL Destroy() = 0;
};

// The generic aggregatable part: inner table, outer unknown and own count.
// Holds one unit of the module lock count for its life.
class AggregatableUnknown : public IInnerUnknown {
 public:
  explicit AggregatableUnknown(IUnknown* outer) noexcept;
  AggregatableUnknown(const AggregatableUnknown&) = delete;
  AggregatableUnknown& operator=(const AggregatableUnknown&) = delete;

  HRESULT VORNE_CALL QueryInterface(const GUID& iid, void** out) noexcept final;
  vorne_ulong_t VORNE_CALL AddRef() noexcept final;
  vorne_ulong_t VORNE_CALL Release() noexcept final;
  void VORNE_CALL Destroy() noexcept final;

  IUnknown* OuterUnknown() const noexcept { return outer_; }
  IUnknown* InnerUnknown() noexcept { return this; }

 protected:
  virtual ~AggregatableUnknown();
  // The interfaces beyond IUnknown; null when the id is not one of them.
  virtual IUnknown* FindInterface(const GUID& iid) noexcept = 0;

 private:
  IUnknown* outer_;  // no reference taken
  std::atomic<std::int32_t> refs_{0};
};

// IPtzControl whose IUnknown operations go to the outer unknown.
template <typename Object>
class DelegatingPtzControl : public IPtzControl {
 public:
  HRESULT VORNE_CALL QueryInterface(const GUID& iid, void** out) noexcept final {
    return Outer()->QueryInterface(iid, out);
  }
  vorne_ulong_t VORNE_CALL AddRef() noexcept final { return Outer()->AddRef(); }
  vorne_ulong_t VORNE_CALL Release() noexcept final { return Outer()->Release(); }

 private:
  IUnknown* Outer() noexcept { return static_cast<Object*>(this)->OuterUnknown(); }
};

class CameraComponent final : public DelegatingPtzControl<CameraComponent>,
                              public AggregatableUnknown {
 public:
  explicit CameraComponent(IUnknown* outer) noexcept : AggregatableUnknown(outer) {}

  // The class table's create function.
  static IUnknown* VORNE_CALL Create(IUnknown* outer, IUnknown* host, HRESULT* result) noexcept;

  std::uint32_t VORNE_CALL GetCameraTypeCount() noexcept override;
  HRESULT VORNE_CALL GetCameraTypeInfo(std::uint32_t index, std::int32_t* id, char16_t* name,
                                       std::uint32_t capacity) noexcept override;
  HRESULT VORNE_CALL CreateController(std::int32_t type, HWND parent,
                                      std::int32_t camera) noexcept override;
  HRESULT VORNE_CALL SetComPort(std::int32_t portIndex) noexcept override;
  HRESULT VORNE_CALL Command(std::int32_t command) noexcept override;
  HRESULT VORNE_CALL DestroyController() noexcept override;
  HRESULT VORNE_CALL SetBaudRate(std::int32_t baudRate) noexcept override;
  HRESULT VORNE_CALL SetAddressCode(std::int32_t addressCode) noexcept override;

 private:
  ~CameraComponent() override;
  IUnknown* FindInterface(const GUID& iid) noexcept override;

  PtzController* controller_ = nullptr;  // owned
};

}  // namespace vorne

#endif

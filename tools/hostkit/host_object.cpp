#include "hostkit/host_object.h"

#include <cstdarg>

#include "hostkit/log_format.h"

namespace hostkit {

namespace {

std::atomic<std::int32_t> liveSinks{0};

class Sink final : public IHostLog {
 public:
  explicit Sink(std::shared_ptr<HostObject::State> state) : state_(std::move(state)) {
    ++liveSinks;
  }
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  HRESULT VORNE_CALL QueryInterface(const GUID& iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualGUID(iid, IID_IUnknown)) {
      *out = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  vorne_ulong_t VORNE_CALL AddRef() override { return static_cast<vorne_ulong_t>(++refs_); }
  vorne_ulong_t VORNE_CALL Release() override {
    const std::int32_t left = --refs_;
    if (left == 0) delete this;
    return static_cast<std::uint32_t>(left);
  }

  HRESULT VORNE_CDECL Log(const char16_t* format, ...) override {
    va_list args;
    va_start(args, format);
    std::string line = FormatLogLine(format, args);
    va_end(args);
    std::lock_guard lock(state_->mutex);
    if (state_->detached) return S_OK;
    state_->lines.push_back(line);
    if (state_->handler) state_->handler(line);
    return S_OK;
  }

 private:
  ~Sink() { --liveSinks; }

  std::shared_ptr<HostObject::State> state_;
  std::atomic<std::int32_t> refs_{1};
};

}  // namespace

HostObject::HostObject(LineHandler handler) : state_(std::make_shared<State>()) {
  state_->handler = std::move(handler);
}

HostObject::~HostObject() {
  // A sink that outlives the host object stops forwarding lines.
  std::lock_guard lock(state_->mutex);
  state_->detached = true;
  state_->handler = nullptr;
}

HRESULT VORNE_CALL HostObject::QueryInterface(const GUID& iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualGUID(iid, IID_IUnknown) ||
      (!declineFactory && IsEqualGUID(iid, IID_IHostLogFactory))) {
    *out = static_cast<IHostLogFactory*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

vorne_ulong_t VORNE_CALL HostObject::AddRef() { return static_cast<vorne_ulong_t>(++refs_); }

vorne_ulong_t VORNE_CALL HostObject::Release() { return static_cast<vorne_ulong_t>(--refs_); }

HRESULT VORNE_CALL HostObject::CreateLog(const char16_t* moduleName, std::int32_t a, std::int32_t b,
                                         IHostLog** out) {
  ++createLogCalls;
  lastModuleName = moduleName != nullptr ? moduleName : u"";
  lastA = a;
  lastB = b;
  if (out == nullptr) return E_POINTER;
  if (FAILED(createLogResult)) return createLogResult;
  *out = new Sink(state_);
  return S_OK;
}

std::vector<std::string> HostObject::Lines() const {
  std::lock_guard lock(state_->mutex);
  return state_->lines;
}

void HostObject::ClearLines() {
  std::lock_guard lock(state_->mutex);
  state_->lines.clear();
}

std::int32_t HostObject::LiveSinks() { return liveSinks.load(); }

}  // namespace hostkit

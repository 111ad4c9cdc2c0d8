// A host object that answers the module's request for a log sink.
#ifndef VORNE_HOSTKIT_HOST_OBJECT_H
#define VORNE_HOSTKIT_HOST_OBJECT_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vorne/ptz_plugin.h"

namespace hostkit {

// Receives each formatted log line (UTF-8, with its trailing newline).
using LineHandler = std::function<void(const std::string&)>;

// Lives on the host's side: the module holds no reference to it beyond a
// creation call. The sink it hands out is reference-counted on its own and
// may outlive it (the module releases the sink when it is unloaded).
class HostObject final : public IHostLogFactory {
 public:
  explicit HostObject(LineHandler handler = {});
  ~HostObject();
  HostObject(const HostObject&) = delete;
  HostObject& operator=(const HostObject&) = delete;

  HRESULT VORNE_CALL QueryInterface(const GUID& iid, void** out) override;
  vorne_ulong_t VORNE_CALL AddRef() override;
  vorne_ulong_t VORNE_CALL Release() override;
  HRESULT VORNE_CALL CreateLog(const char16_t* moduleName, std::int32_t a, std::int32_t b,
                               IHostLog** out) override;

  // Every line logged so far, in order.
  std::vector<std::string> Lines() const;
  void ClearLines();

  // Knobs for hosts that decline: no factory interface, or a failing CreateLog.
  bool declineFactory = false;
  HRESULT createLogResult = S_OK;

  // What the module asked for.
  int createLogCalls = 0;
  std::u16string lastModuleName;
  std::int32_t lastA = 0;
  std::int32_t lastB = 0;

  // References the module holds on this object right now.
  std::int32_t References() const { return refs_.load(); }
  // Sinks handed out and not yet released.
  static std::int32_t LiveSinks();

  struct State {
    mutable std::mutex mutex;
    std::vector<std::string> lines;
    LineHandler handler;
    bool detached = false;
  };

 private:
  std::shared_ptr<State> state_;
  std::atomic<std::int32_t> refs_{0};
};

}  // namespace hostkit

#endif

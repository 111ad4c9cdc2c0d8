// One camera steered through the loaded module, as a host program does it.
#ifndef VORNE_VORNECTL_SESSION_H
#define VORNE_VORNECTL_SESSION_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "hostkit/host_object.h"
#include "hostkit/module_loader.h"
#include "wire_watch.h"

namespace vornectl {

// The camera-type names in catalogue order.
const std::vector<std::string>& TypeNames();
// "PELCO_D" or "5" -> 5 (names are matched without regard to case).
std::optional<std::int32_t> ParseType(const std::string& text);
// "EVI_D31, RC20, ..." for error messages.
std::string TypeChoices();

struct CameraOptions {
  std::string modulePath;  // empty: vorne.so beside the program
  std::int32_t type = -1;
  int port = 0;  // COM number, 1..4; 0: none (the vendor-library types)
  std::optional<int> baud;
  std::optional<int> address;
  int camera = 0;
};

// The action words of `move` and the command numbers they send.
struct Action {
  enum Kind { kCommand, kSleep } kind;
  std::int32_t value;  // command number, or milliseconds
  std::string word;
};
std::optional<Action> ParseAction(const std::string& word, const std::string& next, bool* usedNext);
std::string ActionChoices();

class Reporter;

class Session {
 public:
  // With `onLine` set, module log lines go there instead of standard error.
  explicit Session(Reporter& reporter, hostkit::LineHandler onLine = {});
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Loads the module, creates the component and the controller and applies
  // the settings, reporting each call. Returns an exit code (0 when the
  // controller exists).
  int Open(const CameraOptions& options);
  // Calls Command(n) and reports it. True when nothing failed.
  bool Command(std::int32_t n, const std::string& what);
  // The end of every run, also a stopped one: Command(0), DestroyController,
  // release the component, unload the module. Idempotent.
  void Close();

  IPtzControl* Camera() { return camera_; }
  // A call answered other than S_OK, the module logged a failure, or the
  // wire trace recorded a failed exchange.
  bool Failed() const { return failed_; }
  // A port could not be opened (the reason has been explained).
  bool OpenFailed() const { return openFailed_; }

 private:
  // Reports one call from its result and what the log and trace say.
  bool Report(const std::string& action, const std::string& call, HRESULT hr);

  Reporter& reporter_;
  std::unique_ptr<WireWatch> wire_;
  std::mutex mutex_;
  std::vector<std::string> pendingLog_;
  hostkit::HostObject host_;
  hostkit::LoadedModule module_;
  IPtzControl* camera_ = nullptr;
  bool controller_ = false;
  std::int32_t type_ = -1;
  bool failed_ = false;
  bool openFailed_ = false;
  std::vector<std::string> explained_;
  hostkit::LineHandler onLine_;
};

}  // namespace vornectl

#endif

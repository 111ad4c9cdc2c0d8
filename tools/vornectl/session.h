// One camera steered through the loaded module, as a host program does it.
#ifndef VORNE_VORNECTL_SESSION_H
#define VORNE_VORNECTL_SESSION_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "hostkit/host_object.h"
#include "hostkit/module_loader.h"

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
  int port = 1;  // COM number, 1..4
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

class Session {
 public:
  // Log lines and result reports go to `err`; with `onLine` set, module log
  // lines go there instead.
  explicit Session(std::ostream& err, hostkit::LineHandler onLine = {});
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Loads the module, creates the component and the controller and applies
  // the settings. Returns an exit code (0 when the controller exists).
  int Open(const CameraOptions& options);
  // Calls Command(n) and reports a result other than S_OK. True on S_OK.
  bool Command(std::int32_t n, const std::string& what);
  // Destroys the controller (stopping the camera) and releases the component.
  void Close();

  IPtzControl* Camera() { return camera_; }
  // A call answered other than S_OK, or the module logged a failure.
  bool Failed() const { return failed_ || moduleFailures_; }

 private:
  bool Check(HRESULT hr, const std::string& call);

  std::ostream& err_;
  hostkit::LoadedModule module_;
  hostkit::HostObject host_;
  IPtzControl* camera_ = nullptr;
  bool failed_ = false;
  std::atomic<bool> moduleFailures_{false};
};

}  // namespace vornectl

#endif

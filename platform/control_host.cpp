// Hosting of controls inside the module's windows: the registry of control
// classes and the controls the platform provides.
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "platform/app.h"
#include "platform/comm_control.h"
#include "platform/control.h"

namespace vorne {

namespace {

struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const {
    return std::memcmp(&a, &b, sizeof(GUID)) < 0;
  }
};

struct Registry {
  // The controls the platform provides are there from the start.
  Registry() {
    classes.emplace(CLSID_CommControl, [] { return MakeCommControl(); });
  }

  std::mutex mutex;
  std::map<GUID, ControlFactory, GuidLess> classes;
};

// Built on first use, so it is ready whatever order start-up code runs in,
// and also where no start-up code runs (a program that links the module's
// objects instead of loading it).
Registry& Classes() {
  static Registry registry;
  return registry;
}

}  // namespace

ControlFactory RegisterControlClass(const GUID& classId, ControlFactory factory) {
  Registry& registry = Classes();
  std::lock_guard lock(registry.mutex);
  ControlFactory previous;
  auto found = registry.classes.find(classId);
  if (found != registry.classes.end()) {
    previous = std::move(found->second);
    registry.classes.erase(found);
  }
  if (factory) registry.classes.emplace(classId, std::move(factory));
  return previous;
}

ControlFactory FindControlClass(const GUID& classId) {
  Registry& registry = Classes();
  std::lock_guard lock(registry.mutex);
  auto found = registry.classes.find(classId);
  return found != registry.classes.end() ? found->second : ControlFactory{};
}

void AfxEnableControlContainer() {
  // Builds the registry with its controls before the first window needs it.
  Classes();
}

}  // namespace vorne

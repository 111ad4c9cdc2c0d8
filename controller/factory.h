// Builds and ends controllers by camera type number.
#ifndef VORNE_CONTROLLER_FACTORY_H
#define VORNE_CONTROLLER_FACTORY_H

#include <cstdint>

namespace vorne {

class CWnd;
class PtzController;

// A new, initialised controller for `type`, or null (logged). The caller
// gives it back through DestroyPtzController.
PtzController* CreatePtzController(std::uint32_t type, CWnd* parent, int nCamera) noexcept;

// Closes and deletes a controller; null does nothing.
void DestroyPtzController(PtzController* controller) noexcept;

}  // namespace vorne

#endif

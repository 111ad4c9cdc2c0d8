// The constant catalogue of camera types.
#ifndef VORNE_CONTROLLER_CAMERA_TYPES_H
#define VORNE_CONTROLLER_CAMERA_TYPES_H

#include <array>
#include <cstdint>

namespace vorne {

struct CameraTypeEntry {
  std::int32_t id;
  char16_t name[32];
};

inline constexpr unsigned kCameraTypeCount = 8;

extern const std::array<CameraTypeEntry, kCameraTypeCount> CameraTypeTable;

unsigned CameraTypeCount() noexcept;

// Stores the id of row `index`, then copies its name when `name` is non-null
// and `capacity` leaves room for the terminator. Returns the copied length,
// or 0 when nothing was copied.
int CameraTypeInfo(unsigned index, std::int32_t* id, char16_t* name, unsigned capacity) noexcept;

}  // namespace vorne

#endif

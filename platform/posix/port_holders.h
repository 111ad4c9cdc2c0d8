// Who else holds a serial device: a program's UUCP lock file, or the
// holder of an flock on it. Only read here: the module lives in other
// people's processes and never leaves a lock file of its own behind.
#ifndef VORNE_PLATFORM_POSIX_PORT_HOLDERS_H
#define VORNE_PLATFORM_POSIX_PORT_HOLDERS_H

#include <optional>
#include <string>

namespace vorne::posix {

// The live holder of the UUCP lock file of `device` (symbolic links
// resolved first), as a reason for the wire trace: "held by another
// program (pid 1234, minicom) by its lock file /var/lock/LCK..ttyS0".
// Null when there is no lock file, its process is gone, it is this
// process, or its content names no process.
std::optional<std::string> UucpLockHolder(const std::string& device);

// "held by another program (pid 1234, picocom)" for the holder of the
// flock on open descriptor `fd`, as the kernel lists it; "held by another
// program" when it cannot be told.
std::string FlockHolder(int fd);

}  // namespace vorne::posix

#endif

// setenv and unsetenv for the Windows build, forced into each source. The
// runtime's _putenv_s also sets the process environment block, where the
// module reads VORNE_COMn.
#ifndef VORNE_VORNECTL_WIN32_POSIX_ENV_H
#define VORNE_VORNECTL_WIN32_POSIX_ENV_H

#include <stdlib.h>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

// An empty value removes the variable.
inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }

#endif

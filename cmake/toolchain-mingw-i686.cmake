# Cross build for 32-bit Windows with mingw-w64's posix-thread compilers
# (std::thread and std::mutex need them). Programs and tests run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under wine: the 32-bit loader (Debian's wine32).
find_program(VORNE_WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(VORNE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VORNE_WINE})
endif()

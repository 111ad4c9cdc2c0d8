# Cross build for 64-bit Windows with mingw-w64's posix-thread compilers
# (std::thread and std::mutex need them). Programs and tests run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under wine: the 64-bit loader (Debian's wine64).
find_program(VORNE_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(VORNE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VORNE_WINE})
endif()

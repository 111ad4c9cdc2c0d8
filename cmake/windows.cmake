# The Windows build (mingw-w64, see cmake/toolchain-mingw-*.cmake): vorne.dll
# from the same layers as vorne.so, the stand-in vendor DLLs, the host
# program and the tests that make sense on Windows, run under wine through
# CMAKE_CROSSCOMPILING_EMULATOR.

# Linked statically, so the DLL needs nothing but the system's own DLLs
# (KERNEL32, msvcrt) beside a host.
set(VORNE_WIN_STATIC -static -static-libgcc -static-libstdc++)

# vorne.dll, exporting LumoDll alone: the one function marked for export
# (VORNE_EXPORT), so the linker exports nothing else. On 32-bit Windows the
# stdcall function is LumoDll@4 inside; --kill-at exports it undecorated,
# as hosts look it up.
add_library(vorne MODULE)
foreach(layer IN LISTS VORNE_OBJECT_LAYERS)
  target_sources(vorne PRIVATE $<TARGET_OBJECTS:vorne_${layer}>)
endforeach()
set_target_properties(vorne PROPERTIES PREFIX "" OUTPUT_NAME vorne)
target_link_options(vorne PRIVATE ${VORNE_WIN_STATIC})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(vorne PRIVATE -Wl,--kill-at)
endif()

add_library(vorne_core INTERFACE)
foreach(layer IN LISTS VORNE_OBJECT_LAYERS)
  target_sources(vorne_core INTERFACE $<TARGET_OBJECTS:vorne_${layer}>)
endforeach()
target_include_directories(vorne_core INTERFACE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)

add_library(vorne_public INTERFACE)
target_include_directories(vorne_public INTERFACE ${PROJECT_SOURCE_DIR}/include)

add_custom_target(windows ALL DEPENDS vorne)

# A host includes <windows.h> and the host header in either order, in C99
# and in C++; a backend does the same with the platform headers. Building
# these is the check.
enable_language(C)
foreach(first 0 1)
  add_library(vorne_windows_includes_${first} OBJECT
    ${PROJECT_SOURCE_DIR}/tests/windows/host_includes.c
    ${PROJECT_SOURCE_DIR}/tests/windows/host_includes.cpp
    ${PROJECT_SOURCE_DIR}/tests/windows/platform_includes.cpp)
  target_compile_definitions(vorne_windows_includes_${first} PRIVATE VORNE_HEADER_FIRST=${first})
  target_include_directories(vorne_windows_includes_${first} PRIVATE ${PROJECT_SOURCE_DIR}
    ${PROJECT_SOURCE_DIR}/include)
  set_target_properties(vorne_windows_includes_${first} PROPERTIES C_STANDARD 99
    C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
  add_dependencies(windows vorne_windows_includes_${first})
endforeach()

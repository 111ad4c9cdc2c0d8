# The Windows build (mingw-w64, see cmake/toolchain-mingw-*.cmake): vorne.dll
# from the same layers as vorne.so, the stand-in vendor DLLs, the host
# program and the tests that make sense on Windows, run under wine through
# CMAKE_CROSSCOMPILING_EMULATOR.

# Linked statically, so the DLL needs nothing but the system's own DLLs
# (KERNEL32, msvcrt, and WS2_32 for device servers) beside a host.
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
# Winsock, for COM ports on serial device servers.
target_link_libraries(vorne PRIVATE ws2_32)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(vorne PRIVATE -Wl,--kill-at)
endif()

add_library(vorne_core INTERFACE)
foreach(layer IN LISTS VORNE_OBJECT_LAYERS)
  target_sources(vorne_core INTERFACE $<TARGET_OBJECTS:vorne_${layer}>)
endforeach()
target_include_directories(vorne_core INTERFACE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(vorne_core INTERFACE ws2_32)

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

# ---- Stand-in vendor DLLs: the vendor's decorated names come from .def files.
set(VORNE_STANDIN_DIR ${CMAKE_BINARY_DIR}/bin/standins)
function(vorne_windows_standin target source def output_dir file)
  add_library(${target} MODULE ${PROJECT_SOURCE_DIR}/sim/standins/${source}
    ${PROJECT_SOURCE_DIR}/sim/standins/${def})
  target_compile_definitions(${target} PRIVATE ${ARGN})
  target_link_options(${target} PRIVATE ${VORNE_WIN_STATIC})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${file} SUFFIX ".dll"
    LIBRARY_OUTPUT_DIRECTORY ${output_dir})
  add_dependencies(windows ${target})
endfunction()
vorne_windows_standin(vorne_standin_rc20 rc20_standin.cpp rc20_standin.def ${VORNE_STANDIN_DIR}
  CDLL_301P)
vorne_windows_standin(vorne_standin_rc20_no_motoleft rc20_standin.cpp
  rc20_standin_no_motoleft.def ${VORNE_STANDIN_DIR}/no-motoleft CDLL_301P STANDIN_WITHOUT_MOTOLEFT)
vorne_windows_standin(vorne_standin_rc20_64bit_names rc20_standin.cpp
  rc20_standin_64bit_names.def ${VORNE_STANDIN_DIR}/64bit-names CDLL_301P)
vorne_windows_standin(vorne_standin_su320 su320_standin.cpp su320_standin.def ${VORNE_STANDIN_DIR}
  CDll)

# ---- Host side: the host kit and vornectl.exe (types and move; the
# subcommands that need a terminal or pseudo-terminals are Linux-only).
add_library(vorne_hostkit STATIC
  ${PROJECT_SOURCE_DIR}/tools/hostkit/host_object.cpp
  ${PROJECT_SOURCE_DIR}/tools/hostkit/log_format.cpp
  ${PROJECT_SOURCE_DIR}/tools/hostkit/module_loader.cpp)
target_include_directories(vorne_hostkit PUBLIC ${PROJECT_SOURCE_DIR}/tools
  ${PROJECT_SOURCE_DIR}/include)

# CLI11 and nlohmann-json are header-only; their folders are reached through
# links, as /usr/include itself holds the Linux C library's headers.
set(VORNE_WIN_THIRD_PARTY ${CMAKE_BINARY_DIR}/third-party)
file(MAKE_DIRECTORY ${VORNE_WIN_THIRD_PARTY})
foreach(folder CLI nlohmann)
  if(EXISTS /usr/include/${folder})
    file(CREATE_LINK /usr/include/${folder} ${VORNE_WIN_THIRD_PARTY}/${folder} SYMBOLIC)
  endif()
endforeach()

set(vornectl_dir ${PROJECT_SOURCE_DIR}/tools/vornectl)
add_executable(vornectl
  ${vornectl_dir}/main.cpp
  ${vornectl_dir}/cmd_move.cpp
  ${vornectl_dir}/cmd_types.cpp
  ${vornectl_dir}/line_check.cpp
  ${vornectl_dir}/report.cpp
  ${vornectl_dir}/session.cpp
  ${vornectl_dir}/wire_watch.cpp
  ${vornectl_dir}/win32/stop_request_win32.cpp
  ${vornectl_dir}/win32/unavailable_win32.cpp)
target_include_directories(vornectl PRIVATE ${vornectl_dir} ${PROJECT_SOURCE_DIR})
target_include_directories(vornectl SYSTEM PRIVATE ${VORNE_WIN_THIRD_PARTY})
target_compile_options(vornectl PRIVATE -include ${vornectl_dir}/win32/posix_env.h)
target_compile_definitions(vornectl PRIVATE VORNE_VERSION="${PROJECT_VERSION}")
target_link_libraries(vornectl PRIVATE vorne_hostkit)
target_link_options(vornectl PRIVATE ${VORNE_WIN_STATIC})
add_dependencies(vornectl vorne vorne_standin_rc20 vorne_standin_su320)
add_dependencies(windows vornectl)

# ---- Tests
if(NOT VORNE_BUILD_TESTS)
  return()
endif()
enable_testing()

# The module exports LumoDll alone and imports only system DLLs (read from
# the PE headers; runs on the build machine, no wine needed).
add_test(NAME module_exports_only_lumodll
  COMMAND ${CMAKE_COMMAND} -DMODULE=$<TARGET_FILE:vorne> -DOBJDUMP=${CMAKE_OBJDUMP}
          -P ${PROJECT_SOURCE_DIR}/tests/plugin/check_exports.cmake)
set_tests_properties(module_exports_only_lumodll PROPERTIES TIMEOUT 60)

# GoogleTest built from Debian's sources with this compiler, without the
# project's warning flags (its code is not the project's).
get_directory_property(vorne_saved_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${vorne_saved_options}")

set(tests_dir ${PROJECT_SOURCE_DIR}/tests)
add_library(vorne_test_support STATIC
  ${tests_dir}/support/module_fixture.cpp
  ${tests_dir}/support/recording_control.cpp)
target_include_directories(vorne_test_support PUBLIC ${tests_dir})
target_link_libraries(vorne_test_support PUBLIC vorne_core vorne_hostkit gtest gmock)
target_compile_definitions(vorne_test_support PUBLIC
  VORNE_MODULE_PATH="$<TARGET_FILE:vorne>"
  VORNECTL_PATH="$<TARGET_FILE:vornectl>"
  VORNE_STANDIN_DIR="${VORNE_STANDIN_DIR}")

# One CTest entry per test program: each start of a program under wine costs
# a fraction of a second even with the wineserver kept running.
function(vorne_windows_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE vorne_test_support gtest_main)
  target_link_options(${name} PRIVATE ${VORNE_WIN_STATIC})
  add_dependencies(${name} vorne vornectl vorne_standin_rc20 vorne_standin_su320
    vorne_standin_rc20_no_motoleft vorne_standin_rc20_64bit_names)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()

# The module's insides: entry, component, host log, catalogue, factory,
# port link, frames, the network port, safe text.
vorne_windows_test(windows_unit_tests
  ${tests_dir}/controller/catalogue_test.cpp
  ${tests_dir}/controller/factory_test.cpp
  ${tests_dir}/plugin/entry_test.cpp
  ${tests_dir}/plugin/component_test.cpp
  ${tests_dir}/plugin/host_log_test.cpp
  ${tests_dir}/serial/port_link_test.cpp
  ${tests_dir}/protocols/frames_test.cpp
  ${tests_dir}/protocols/pelco_address_test.cpp
  ${tests_dir}/net/net_port_test.cpp
  ${tests_dir}/platform/safe_text_test.cpp)

# The Win32 backend itself (vorne.dll loaded by a host: exit_while_loaded
# and the end-to-end test below).
vorne_windows_test(windows_module_tests
  ${tests_dir}/windows/win32_backend_test.cpp)

# End to end under wine against the native Linux camera simulator, which the
# Linux build makes (build/default); without it the test is not registered.
set(VORNE_NATIVE_CAMSIM ${PROJECT_SOURCE_DIR}/build/default/bin/vorne-camsim CACHE FILEPATH
  "vorne-camsim of the Linux build, the camera for the end-to-end test under wine")
if(CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME vornectl_under_wine
    COMMAND ${tests_dir}/windows/vornectl_under_wine.sh ${CMAKE_CROSSCOMPILING_EMULATOR}
            ${CMAKE_BINARY_DIR}/bin ${VORNE_NATIVE_CAMSIM}
            ${PROJECT_SOURCE_DIR}/build/default/bin/vorne-hostile-server)
  set_tests_properties(vornectl_under_wine PROPERTIES TIMEOUT 300 RESOURCE_LOCK wine_com2)
endif()

# The README's Windows host, built so it stays true.
add_executable(windows_host ${PROJECT_SOURCE_DIR}/tools/examples/windows_host.cpp)
target_link_libraries(windows_host PRIVATE vorne_public)
target_link_options(windows_host PRIVATE ${VORNE_WIN_STATIC})
add_dependencies(windows windows_host)

# At process end with the module loaded, the module calls nothing of the
# host's (its sink may be gone); unloaded by the host, it releases the sink.
add_executable(exit_while_loaded ${tests_dir}/windows/exit_while_loaded.cpp)
target_link_libraries(exit_while_loaded PRIVATE vorne_public)
target_link_options(exit_while_loaded PRIVATE ${VORNE_WIN_STATIC})
add_dependencies(exit_while_loaded vorne)
add_test(NAME module_exit_at_process_end_calls_no_host COMMAND exit_while_loaded exit)
set_tests_properties(module_exit_at_process_end_calls_no_host PROPERTIES TIMEOUT 120
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
  PASS_REGULAR_EXPRESSION "main returned" FAIL_REGULAR_EXPRESSION "sink released|cannot")
add_test(NAME module_unload_releases_the_host_sink COMMAND exit_while_loaded unload)
set_tests_properties(module_unload_releases_the_host_sink PROPERTIES TIMEOUT 120
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
  PASS_REGULAR_EXPRESSION "sink released\r?\nmain returned")

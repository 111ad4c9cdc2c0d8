# What a host's build system finds after `cmake --install`:
#   - the CMake package `vorne` (lib/cmake/vorne): the header-only target
#     vorne::ptz_plugin, the host kit vorne::host, the imported module
#     vorne::module, and VORNE_MODULE / VORNE_MODULE_DIR naming the installed
#     module;
#   - pkg-config files vorne.pc (Cflags, and the module's folder as the
#     variable moduledir) and vorne-host.pc (the host kit).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The module's folder, as the install rule for the module names it.
set(VORNE_INSTALL_MODULEDIR lib/vorne)
set(VORNE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/vorne)

# The public header on its own: all a host needs to talk to the module.
add_library(vorne_ptz_plugin INTERFACE)
add_library(vorne::ptz_plugin ALIAS vorne_ptz_plugin)
set_target_properties(vorne_ptz_plugin PROPERTIES EXPORT_NAME ptz_plugin)
target_include_directories(vorne_ptz_plugin INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS vorne_ptz_plugin vorne_hostkit EXPORT vorneTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES
  ${PROJECT_SOURCE_DIR}/tools/hostkit/host.h
  ${PROJECT_SOURCE_DIR}/tools/hostkit/host_object.h
  ${PROJECT_SOURCE_DIR}/tools/hostkit/log_format.h
  ${PROJECT_SOURCE_DIR}/tools/hostkit/module_loader.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vorne-host/hostkit)
install(EXPORT vorneTargets NAMESPACE vorne:: DESTINATION ${VORNE_INSTALL_CMAKEDIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/vorneConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/vorneConfig.cmake
  INSTALL_DESTINATION ${VORNE_INSTALL_CMAKEDIR}
  PATH_VARS VORNE_INSTALL_MODULEDIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/vorneConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/vorneConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/vorneConfigVersion.cmake
  DESTINATION ${VORNE_INSTALL_CMAKEDIR})

# pkg-config files find the prefix from their own folder, so they hold for
# whatever prefix `cmake --install --prefix` is given, and for a moved tree.
file(RELATIVE_PATH VORNE_PC_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" VORNE_PC_PREFIX "${VORNE_PC_PREFIX}")
set(VORNE_PC_DL "")
foreach(lib IN LISTS CMAKE_DL_LIBS)
  string(APPEND VORNE_PC_DL " -l${lib}")
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/vorne.pc.in ${CMAKE_CURRENT_BINARY_DIR}/vorne.pc @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/vorne-host.pc.in ${CMAKE_CURRENT_BINARY_DIR}/vorne-host.pc
  @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vorne.pc ${CMAKE_CURRENT_BINARY_DIR}/vorne-host.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

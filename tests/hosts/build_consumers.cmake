# Installs the build tree into WORK_DIR/prefix and builds the consumer
# project against it twice: through the CMake package and through
# pkg-config. Each build ends as WORK_DIR/<cmake|pkgconfig>/vorne-consumer.
#   -DBUILD_DIR= -DWORK_DIR= -DSOURCE_DIR= -DGENERATOR= -DBUILD_TYPE=
#   -DCC= -DCXX= -DSANITIZE=ON|OFF
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " line "${ARGN}")
    message(FATAL_ERROR "${line}\nfailed (${rc}):\n${out}")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${prefix} ${WORK_DIR}/cmake ${WORK_DIR}/pkgconfig)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

set(flags "")
if(SANITIZE)
  # The installed host kit and module carry the sanitizers; so must the host.
  set(flags -DCMAKE_C_FLAGS=-fsanitize=address,undefined
    -DCMAKE_CXX_FLAGS=-fsanitize=address,undefined
    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined)
endif()

# Only the install prefix may satisfy the searches.
set(ENV{PKG_CONFIG_PATH} "")
file(GLOB pc_dirs ${prefix}/lib*/pkgconfig ${prefix}/lib/*/pkgconfig)
string(REPLACE ";" ":" pc_path "${pc_dirs}")
set(ENV{PKG_CONFIG_PATH} "${pc_path}")

foreach(mode cmake pkgconfig)
  set(options -DCMAKE_PREFIX_PATH=${prefix})
  if(mode STREQUAL "pkgconfig")
    set(options -DUSE_PKG_CONFIG=ON -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
  endif()
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/${mode} -G ${GENERATOR}
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_C_COMPILER=${CC} -DCMAKE_CXX_COMPILER=${CXX}
    ${options} ${flags})
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/${mode})
  message(STATUS "${mode}: built ${WORK_DIR}/${mode}/vorne-consumer")
endforeach()

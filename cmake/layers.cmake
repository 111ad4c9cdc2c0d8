# vorne_layer(<folder> [HEADER_ONLY] [USES <lower folder>...] [SOURCES <file>...])
#
# Declares the module layer in <folder> as target vorne_<folder>. Its sources
# include headers as "<folder>/name.h"; that path resolves through a folder in
# the build tree holding a single link to <folder>, so a layer sees its own
# headers, the public host header and exactly the layers it USES, nothing
# above it. Uses are linked PRIVATE: a layer passes nothing on.
set(VORNE_OBJECT_LAYERS "" CACHE INTERNAL "")
set(VORNE_LAYERS "" CACHE INTERNAL "")

function(vorne_layer folder)
  cmake_parse_arguments(PARSE_ARGV 1 arg "HEADER_ONLY" "" "USES;SOURCES")
  set(target vorne_${folder})
  set(root ${CMAKE_BINARY_DIR}/layers/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  set(VORNE_LAYERS ${VORNE_LAYERS} ${folder} CACHE INTERNAL "")
  set_property(GLOBAL PROPERTY VORNE_USES_${folder} ${arg_USES})

  if(arg_HEADER_ONLY)
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${root})
    return()
  endif()

  add_library(${target} OBJECT ${arg_SOURCES})
  target_include_directories(${target} PUBLIC ${root} ${PROJECT_SOURCE_DIR}/include)
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden
                                             VISIBILITY_INLINES_HIDDEN ON)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT WIN32)
    # Static data of inline library functions would otherwise become
    # GNU-unique symbols: exported despite hidden visibility, and they pin
    # the module in memory so that it can never be unloaded.
    target_compile_options(${target} PRIVATE -fno-gnu-unique)
  endif()
  foreach(lower IN LISTS arg_USES)
    target_link_libraries(${target} PRIVATE vorne_${lower})
  endforeach()
  set(VORNE_OBJECT_LAYERS ${VORNE_OBJECT_LAYERS} ${folder} CACHE INTERNAL "")
endfunction()

# Man pages made from the programs' own --help, so that they cannot drift
# from what the programs accept.
#
# vorne_add_manpage(TARGET <program> SUMMARY <one line> [SUBCOMMANDS <name>...])
# builds <program>.1 after the program and installs it in man1.
set(VORNE_MANPAGE_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

if(CMAKE_SCRIPT_MODE_FILE)
  # Run as a script: PROGRAM, NAME, SUMMARY, VERSION, SUBCOMMANDS (;-list), OUTPUT.
  function(roff_escape text out)
    string(REPLACE "\\" "\\e" text "${text}")
    # A line starting with . or ' would be read as a request.
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
  endfunction()
  function(help_of args out)
    execute_process(COMMAND ${PROGRAM} ${args} --help OUTPUT_VARIABLE text
                    RESULT_VARIABLE rc ERROR_QUIET)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${PROGRAM} ${args} --help failed: ${rc}")
    endif()
    roff_escape("${text}" text)
    set(${out} "${text}" PARENT_SCOPE)
  endfunction()
  string(TOUPPER "${NAME}" upper)
  help_of("" main)
  set(page ".TH ${upper} 1 \"\" \"${NAME} ${VERSION}\" \"User Commands\"\n")
  string(APPEND page ".SH NAME\n${NAME} \\- ${SUMMARY}\n")
  string(APPEND page ".SH DESCRIPTION\n.nf\n${main}.fi\n")
  foreach(sub IN LISTS SUBCOMMANDS)
    help_of("${sub}" text)
    string(APPEND page ".SS ${sub}\n.nf\n${text}.fi\n")
  endforeach()
  file(WRITE ${OUTPUT} "${page}")
  return()
endif()

include(GNUInstallDirs)
function(vorne_add_manpage)
  cmake_parse_arguments(ARG "" "TARGET;SUMMARY" "SUBCOMMANDS" ${ARGN})
  set(page ${CMAKE_BINARY_DIR}/man/${ARG_TARGET}.1)
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${ARG_TARGET}> -DNAME=${ARG_TARGET}
            "-DSUMMARY=${ARG_SUMMARY}" -DVERSION=${PROJECT_VERSION}
            "-DSUBCOMMANDS=${ARG_SUBCOMMANDS}" -DOUTPUT=${page} -P ${VORNE_MANPAGE_SCRIPT}
    DEPENDS ${ARG_TARGET} ${VORNE_MANPAGE_SCRIPT}
    COMMENT "Man page of ${ARG_TARGET}" VERBATIM)
  add_custom_target(${ARG_TARGET}_manpage ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

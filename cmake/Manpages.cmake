# The manual pages of servoctl and servosim, made by help2man from their own
# --help and --version, so that a page cannot say other than the program.
# A cross build runs the programs through its emulator.
# Instrumented builds are never installed and make none; nor does a cross
# build that cannot run what it builds.
if(SANITIZE OR SANITIZE_THREAD)
  return()
endif()
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(STATUS "No manual pages: the cross build has no emulator to run the programs")
  return()
endif()
find_program(HELP2MAN help2man DOC "help2man, for the manual pages")
if(NOT HELP2MAN)
  message(STATUS "help2man not found: no manual pages")
  return()
endif()

set(MANPAGE_DIR ${CMAKE_BINARY_DIR}/man)
set(servoctl_SUMMARY "read, write and watch TECO servo drives on a Modbus RTU line")
set(servosim_SUMMARY "simulated TECO servo drives on a Modbus RTU line")
set(MANPAGES)
foreach(tool servoctl servosim)
  # help2man names the page after the program it runs: a wrapper of that name.
  set(runner ${MANPAGE_DIR}/run/${tool})
  string(JOIN " " emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
  file(GENERATE OUTPUT ${runner}
       CONTENT "#!/bin/sh\nexec ${emulator} \"$<TARGET_FILE:${tool}>\" \"$@\"\n"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                        WORLD_READ WORLD_EXECUTE)
  # The page as written, and compressed as installed; dated by the commit
  # (cmake/SourceDate.cmake).
  # The sections --help has no place for (EXIT STATUS, FILES, SEE ALSO),
  # with the install's own folders.
  set(include ${MANPAGE_DIR}/${tool}.h2m)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/man/${tool}.h2m.in ${include} @ONLY)
  set(page ${MANPAGE_DIR}/${tool}.1)
  add_custom_command(OUTPUT ${page} ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH}
            ${HELP2MAN} --no-info --section=1 --name=${${tool}_SUMMARY}
            --include=${include} --output=${page} ${runner}
    COMMAND gzip -9nkf ${page}
    DEPENDS ${tool} ${include}
    COMMENT "Writing the manual page of ${tool}"
    VERBATIM)
  list(APPEND MANPAGES ${page}.gz)
endforeach()
add_custom_target(manpages ALL DEPENDS ${MANPAGES})

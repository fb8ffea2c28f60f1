# Bash completion of servoctl and servosim, written by the programs
# themselves (--completion bash, hidden from --help) from their command and
# option tables, so that it cannot fall behind them. A cross build runs them
# through its emulator; instrumented builds are never installed and make none.
if(SANITIZE OR SANITIZE_THREAD)
  return()
endif()
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(STATUS "No bash completion: the cross build has no emulator to run the programs")
  return()
endif()

set(COMPLETION_DIR ${CMAKE_BINARY_DIR}/completions)
set(COMPLETIONS)
string(JOIN " " emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
foreach(tool servoctl servosim)
  set(writer ${COMPLETION_DIR}/write/${tool})
  file(GENERATE OUTPUT ${writer}
       CONTENT "#!/bin/sh\nexec ${emulator} \"$<TARGET_FILE:${tool}>\" --completion bash >\"$1\"\n"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                        WORLD_READ WORLD_EXECUTE)
  add_custom_command(OUTPUT ${COMPLETION_DIR}/${tool}
    COMMAND ${writer} ${COMPLETION_DIR}/${tool}
    DEPENDS ${tool}
    COMMENT "Writing the bash completion of ${tool}"
    VERBATIM)
  list(APPEND COMPLETIONS ${COMPLETION_DIR}/${tool})
endforeach()
add_custom_target(completions ALL DEPENDS ${COMPLETIONS})

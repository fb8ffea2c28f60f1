# SOURCE_DATE_EPOCH: the time of the commit being built, for everything the
# packages date (the changelog, the manual pages, every file's time), so that
# two builds of one commit make the same bytes. From the environment when
# given (a build from an exported tree: scripts/reproducible), else from git;
# outside a checkout, the time of the configure (and the packages differ).
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git log -1 --format=%ct
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE failed ERROR_QUIET)
  if(failed OR NOT SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    string(TIMESTAMP SOURCE_DATE_EPOCH "%s" UTC)
    message(STATUS "Not a git checkout and no SOURCE_DATE_EPOCH: the packages are dated now")
  endif()
endif()
if(NOT SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is no number of seconds: ${SOURCE_DATE_EPOCH}")
endif()

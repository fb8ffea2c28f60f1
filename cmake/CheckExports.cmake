# Compares the symbols a shared library exports with a reference list:
#   cmake -DNM=<nm> -DLIBRARY=<lib.so> -DREFERENCE=<list> -P CheckExports.cmake
# The list holds "TYPE NAME" lines, sorted, as `nm -D --defined-only` prints
# them without the address (a host nm shows ARM Thumb addresses odd). To
# record a new list after a deliberate change, run the same with -DUPDATE=ON.
foreach(variable NM LIBRARY REFERENCE)
  if(NOT ${variable})
    message(FATAL_ERROR "CheckExports: ${variable} is not set")
  endif()
endforeach()

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "CheckExports: ${NM} failed on ${LIBRARY}")
endif()

string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(exports "")
foreach(line IN LISTS lines)
  # "address type name", or "type name" for an absolute symbol without one.
  if(line MATCHES "([A-Za-z]) ([^ ]+)$")
    list(APPEND exports "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
  endif()
endforeach()
list(SORT exports)

if(UPDATE)
  list(JOIN exports "\n" text)
  file(WRITE ${REFERENCE} "${text}\n")
  message(STATUS "Recorded ${REFERENCE}")
  return()
endif()

file(STRINGS ${REFERENCE} expected)
set(appeared ${exports})
list(REMOVE_ITEM appeared ${expected})
set(disappeared ${expected})
list(REMOVE_ITEM disappeared ${exports})
if(appeared OR disappeared)
  list(JOIN appeared "\n  " appeared_text)
  list(JOIN disappeared "\n  " disappeared_text)
  message(FATAL_ERROR "The exports of ${LIBRARY} differ from ${REFERENCE}\n"
    "appeared:\n  ${appeared_text}\ndisappeared:\n  ${disappeared_text}")
endif()
list(LENGTH exports count)
message(STATUS "${count} exports as in ${REFERENCE}")

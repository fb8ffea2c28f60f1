# The Qt that the plug-in, the toolkit and their tests build against, as the
# targets Qt::Core and Qt::Sql:
# - TECO_SERVO_QT=5 (the default): Debian's Qt 5.15, for everything, the
#   tools and the Debian packages included;
# - TECO_SERVO_QT=4: the panel runtime's Qt 4.7, found through its qmake
#   (QT4_PREFIX/bin/qmake, or QT_QMAKE_EXECUTABLE for an SDK laid out
#   otherwise). Only the plug-in, the toolkit, their tests and the panel host
#   build then: the tools stay on Qt 5.
set(TECO_SERVO_QT 5 CACHE STRING "Qt major version the plug-in builds against (4 or 5)")
set_property(CACHE TECO_SERVO_QT PROPERTY STRINGS 4 5)

if(TECO_SERVO_QT STREQUAL "5")
  find_package(Qt5 5.15 REQUIRED COMPONENTS Core Sql)
  if(CMAKE_CROSSCOMPILING)
    # Qt's CMake files of the target point moc at the target's binary, which
    # does not run here: the build machine's moc of the same Qt does the job.
    find_program(QT_HOST_MOC moc HINTS /usr/lib/qt5/bin NO_CMAKE_FIND_ROOT_PATH
      DOC "The build machine's Qt 5 moc" REQUIRED)
    set_target_properties(Qt5::moc PROPERTIES IMPORTED_LOCATION ${QT_HOST_MOC})
  endif()
  return()
elseif(NOT TECO_SERVO_QT STREQUAL "4")
  message(FATAL_ERROR "TECO_SERVO_QT is 4 or 5, not '${TECO_SERVO_QT}'")
endif()

# Qt 4's qmake and moc run on the build machine, also in a cross build; its
# qmake knows where the rest of that Qt lies. QT4_PREFIX, when given, names it.
if(NOT QT4_PREFIX AND DEFINED ENV{QT4_PREFIX})
  set(QT4_PREFIX "$ENV{QT4_PREFIX}")
endif()
if(QT4_PREFIX)
  set(QT_QMAKE_EXECUTABLE "${QT4_PREFIX}/bin/qmake" CACHE FILEPATH "Qt 4's qmake" FORCE)
elseif(NOT QT_QMAKE_EXECUTABLE)
  message(FATAL_ERROR "TECO_SERVO_QT=4 needs QT4_PREFIX (the Qt 4 install folder) "
    "or QT_QMAKE_EXECUTABLE")
endif()

function(qt4_query variable key)
  execute_process(COMMAND "${QT_QMAKE_EXECUTABLE}" -query ${key}
    OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR value STREQUAL "")
    message(FATAL_ERROR "${QT_QMAKE_EXECUTABLE} -query ${key} failed")
  endif()
  set(${variable} "${value}" PARENT_SCOPE)
endfunction()
qt4_query(QT4_VERSION QT_VERSION)
qt4_query(QT4_HEADERS QT_INSTALL_HEADERS)
qt4_query(QT4_LIBS QT_INSTALL_LIBS)
qt4_query(QT4_BINS QT_INSTALL_BINS)
if(NOT QT4_VERSION MATCHES "^4\\.([0-9]+)\\." OR CMAKE_MATCH_1 LESS 7)
  message(FATAL_ERROR "${QT_QMAKE_EXECUTABLE} is Qt ${QT4_VERSION}, not Qt 4.7 or a later 4.x")
endif()
message(STATUS "Building the plug-in against Qt ${QT4_VERSION} in ${QT4_LIBS}")

# What CMake's AUTOMOC looks for to run Qt 4's moc.
set(QT_VERSION_MAJOR 4)
set(QT_VERSION_MINOR ${CMAKE_MATCH_1})
add_executable(Qt4::moc IMPORTED)
set_target_properties(Qt4::moc PROPERTIES IMPORTED_LOCATION "${QT4_BINS}/moc")

foreach(module Core Sql)
  if(NOT EXISTS "${QT4_LIBS}/libQt${module}.so")
    message(FATAL_ERROR "No libQt${module}.so in ${QT4_LIBS}")
  endif()
  add_library(Qt::${module} SHARED IMPORTED)
  set_target_properties(Qt::${module} PROPERTIES
    IMPORTED_LOCATION "${QT4_LIBS}/libQt${module}.so"
    IMPORTED_SONAME "libQt${module}.so.4"
    INTERFACE_INCLUDE_DIRECTORIES "${QT4_HEADERS};${QT4_HEADERS}/Qt${module}"
    INTERFACE_QT_MAJOR_VERSION 4
    COMPATIBLE_INTERFACE_STRING QT_MAJOR_VERSION)
endforeach()
# A release build says so in its verification data ("debug=false"); Qt 4's
# loader refuses a plug-in that differs from it there.
set_target_properties(Qt::Core PROPERTIES
  INTERFACE_COMPILE_DEFINITIONS "$<$<NOT:$<CONFIG:Debug>>:QT_NO_DEBUG>")
set_target_properties(Qt::Sql PROPERTIES INTERFACE_LINK_LIBRARIES Qt::Core)

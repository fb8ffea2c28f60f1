# Where an install puts things, below CMAKE_INSTALL_PREFIX (or DESTDIR).
# The documentation goes with the tools' package.
set(CMAKE_INSTALL_DOCDIR "share/doc/teco-servo-tools" CACHE PATH
    "Documentation: README, docs/ and the example parameter map")
# GNUInstallDirs takes Debian's multiarch library folder in native builds
# only; a cross build for Debian (its toolchain names DEBIAN_ARCH) takes it too.
if(CMAKE_CROSSCOMPILING AND DEBIAN_ARCH AND CMAKE_INSTALL_PREFIX MATCHES "^/usr/?$")
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}" CACHE PATH
      "Object code libraries (LIBDIR)")
endif()
include(GNUInstallDirs)

# Empty: hmi/drivers in the library folder, as it is at each configure (a
# default written into the cache would keep an earlier library folder). A
# string: CMake would make a relative path given untyped on the command line
# absolute.
set(TECO_SERVO_DRIVER_DIR "" CACHE STRING
    "The panel runtime's driver folder the plug-in is installed into (relative to the prefix, or absolute; default <libdir>/hmi/drivers)")
if(NOT TECO_SERVO_DRIVER_DIR)
  set(TECO_SERVO_DRIVER_DIR "${CMAKE_INSTALL_LIBDIR}/hmi/drivers")
endif()
if(IS_ABSOLUTE "${TECO_SERVO_DRIVER_DIR}")
  set(TECO_SERVO_FULL_DRIVER_DIR "${TECO_SERVO_DRIVER_DIR}")
else()
  set(TECO_SERVO_FULL_DRIVER_DIR "${CMAKE_INSTALL_PREFIX}/${TECO_SERVO_DRIVER_DIR}")
endif()
# servoctl looks for the installed plug-in from its own folder, so that an
# install moved elsewhere as a whole (DESTDIR, a firmware image) still works.
file(RELATIVE_PATH TECO_SERVO_PLUGIN_FROM_BINDIR "${CMAKE_INSTALL_FULL_BINDIR}"
     "${TECO_SERVO_FULL_DRIVER_DIR}/${CMAKE_SHARED_LIBRARY_PREFIX}teco_servo${CMAKE_SHARED_LIBRARY_SUFFIX}")

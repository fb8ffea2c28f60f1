# Debian packages of the three install components, made by `cpack` in the
# build folder (scripts/package makes them for amd64 and armhf into dist/).
# The dependencies on Debian's libraries are computed by dpkg-shlibdeps; a
# cross build looks them up in its sysroot (scripts/sysroot-armhf gathers the
# sysroot packages' symbols and shlibs files for it).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME teco-servo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "TECO servo driver team")
set(CPACK_PACKAGE_CONTACT "TECO servo driver team <servo-drivers@example.com>")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Driver Tools Development)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(CMAKE_CROSSCOMPILING)
  # A firmware image's own cross build (Yocto, Buildroot) installs, and
  # packages nothing here.
  if(NOT DEBIAN_ARCH)
    message(STATUS "No Debian packages: the cross toolchain names no DEBIAN_ARCH")
    return()
  endif()
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${DEBIAN_ARCH})
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
      ${CMAKE_SYSROOT}/lib/${CMAKE_LIBRARY_ARCHITECTURE}
      ${CMAKE_SYSROOT}/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE})
endif()
# Read by cpack itself: dpkg-shlibdeps reads the target's objects with its
# objdump when it knows the packages' architecture.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
  "if(CPACK_DEBIAN_PACKAGE_ARCHITECTURE)\n"
  "  set(ENV{DEB_HOST_ARCH} \${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})\n"
  "endif()\n")

set(CPACK_DEBIAN_DRIVER_PACKAGE_NAME teco-servo-driver)
set(CPACK_DEBIAN_DRIVER_PACKAGE_SECTION libs)
# The database lookups open SQLite through Qt's plug-in, never linked.
set(CPACK_DEBIAN_DRIVER_PACKAGE_DEPENDS "libqt5sql5-sqlite")
set(CPACK_COMPONENT_DRIVER_DESCRIPTION
"Modbus RTU driver for TECO servo drives, for the panel runtime
The plug-in the operator-panel runtime loads to read and write TECO servo
drives on an RS-485 line: holding and input registers, coils, discrete
inputs, bits inside registers, and a store that broadcasts one value to up
to eight drives. It carries the runtime's driver toolkit.

It is installed into the runtime's driver folder,
/usr/${TECO_SERVO_DRIVER_DIR}.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME teco-servo-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS "gnuplot-nox")
# servoctl loads the plug-in of its own version.
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS
    "teco-servo-driver (= ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
"Commissioning tools for TECO servo drives on a Modbus RTU line
servoctl reads, writes and polls drives through the TECO servo driver
plug-in, as the panel runtime does: it scans a line for stations and their
settings, keeps line statistics and a CSV log, draws the log with gnuplot,
and backs up and restores drive parameters. Without a serial device it
works on a built-in simulated line.

servosim simulates a line of drives on a pseudo-terminal or a serial
device, with injected faults and a moving servo model.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME teco-servo-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "qtbase5-dev")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
"Driver toolkit of the panel runtime, for building drivers
The toolkit the TECO servo driver is built on, for other drivers of the
operator-panel runtime: setting records, byte order and bit helpers, a
format packer, address helpers, project database lookups, timing, CRCs and
a packet builder. A static library with its headers, the runtime's driver
interface headers, and a CMake package: find_package(TecoServoToolkit).")

# Every package's documentation folder holds the copyright file and the
# changelog, written for this version.
set(DEBIAN_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
# Dated by the commit: string(TIMESTAMP) takes SOURCE_DATE_EPOCH for now.
set(ENV{SOURCE_DATE_EPOCH} ${SOURCE_DATE_EPOCH})
string(TIMESTAMP DEBIAN_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(cmake/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog.Debian @ONLY)
execute_process(COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/debian/changelog.Debian COMMAND_ERROR_IS_FATAL ANY)
foreach(component Driver Tools Development)
  string(TOUPPER ${component} upper)
  install(FILES cmake/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}
    COMPONENT ${component})
endforeach()

# cpack's own archives carry the install's times and its tar's order:
# each package is packed again by dpkg-deb, every file at the commit's time,
# owned by root, so that two builds of one commit give the same bytes
# (scripts/reproducible checks it).
set(CPACK_SOURCE_DATE_EPOCH ${SOURCE_DATE_EPOCH})
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/RepackDeb.cmake)

include(CPack)

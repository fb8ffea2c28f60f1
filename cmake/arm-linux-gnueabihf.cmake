# Cross-compiles for 32-bit little-endian ARM Linux (armhf) with Debian's
# crossbuild-essential-armhf, against an extracted armhf sysroot (see
# scripts/sysroot-armhf), and runs the built programs through qemu-arm so that
# ctest and test discovery work unchanged:
#   cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
# The sysroot is ARM_SYSROOT (cache or environment variable), by default the
# clone's .sysroot-armhf/.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
# The Debian architecture of the packages built here (cmake/Packaging.cmake).
set(DEBIAN_ARCH armhf)

if(NOT ARM_SYSROOT)
  if(DEFINED ENV{ARM_SYSROOT})
    set(ARM_SYSROOT "$ENV{ARM_SYSROOT}")
  else()
    get_filename_component(ARM_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../.sysroot-armhf" ABSOLUTE)
  endif()
endif()
if(NOT EXISTS "${ARM_SYSROOT}/usr/include/arm-linux-gnueabihf")
  message(FATAL_ERROR "No armhf sysroot at ${ARM_SYSROOT}: run scripts/sysroot-armhf first")
endif()
set(ARM_SYSROOT "${ARM_SYSROOT}" CACHE PATH "armhf sysroot to build against")
# try_compile projects read this file again and need the same sysroot.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ARM_SYSROOT)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_SYSROOT "${ARM_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH "${ARM_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# binfmt_misc may be missing, so every ARM program is started through qemu,
# which also looks up the program's libraries (and /dev) in the sysroot first.
find_program(ARM_QEMU qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${ARM_QEMU};-L;${ARM_SYSROOT}")

# pkg-config (libmodbus) reads the sysroot's .pc files and prefixes their paths.
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${ARM_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR}
    "${ARM_SYSROOT}/usr/lib/arm-linux-gnueabihf/pkgconfig:${ARM_SYSROOT}/usr/share/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})

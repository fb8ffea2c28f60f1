# Sourced by the scripts: installs the Debian packages a step needs, once.
# Packages already installed are left alone; apt-get update runs at most once.

ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  # Minimal images run as root and have no sudo.
  local as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "Missing packages: ${missing[*]}; not root and no sudo, so as root run:" >&2
      echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
      return 1
    fi
    as_root=(sudo)
  fi
  if [ -z "${APT_UPDATED:-}" ]; then
    "${as_root[@]}" apt-get update -qq
    APT_UPDATED=1
  fi
  echo "Installing: ${missing[*]}"
  # Through env: sudo drops the caller's environment.
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# What building and testing the library needs on the build machine (gnuplot:
# servoctl plot and its tests; pymodbus, whose imports need serial-asyncio: the
# independent peer of the TCP line's tests; tshark decodes servoctl monitor's
# captures, and installed without questions it leaves dumpcap without privileges).
BUILD_PACKAGES=(cmake make g++ pkg-config qtbase5-dev libqt5sql5-sqlite
                libgtest-dev libgmock-dev libmodbus-dev libbenchmark-dev gnuplot-nox
                help2man man-db python3 python3-pymodbus python3-serial-asyncio tshark)

# The independent peers only the tests talk to: what the demo need not install.
PEER_PACKAGES=(python3-pymodbus python3-serial-asyncio tshark)

# What cross-building for 32-bit ARM and running the result needs besides.
ARM_PACKAGES=(crossbuild-essential-armhf qemu-user mmdebstrap file)

# What building Qt 4.7.3 for the panel's plug-in needs besides (scripts/test-qt4).
QT4_PACKAGES=(perl patch xz-utils g++-arm-linux-gnueabihf)

# What scripts/bench needs besides: the report and the plot.
BENCH_PACKAGES=(python3 gnuplot-nox)

# What the fuzz targets, the sanitizer build and the memory checks need
# besides (jq: memcheck reads ctest's list of tests).
CHECK_PACKAGES=(clang libclang-rt-14-dev valgrind jq)

# What making the Debian packages needs besides (scripts/package).
PACKAGE_PACKAGES=(dpkg-dev file lintian)

# configure_and_build DIR [cmake options...]
configure_and_build() {
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}

# configure_and_build_targets DIR TARGET...: only what a script runs (the
# demo needs neither the tests nor the benchmarks).
configure_and_build_targets() {
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target "$@"
}

# configure_and_build_arm DIR [cmake options...]: the armhf cross build,
# with the sysroot ($ARM_SYSROOT, default .sysroot-armhf/ in the clone) made
# first when missing.
configure_and_build_arm() {
  local dir=$1; shift
  local sysroot=${ARM_SYSROOT:-$ROOT/.sysroot-armhf}
  "$ROOT/scripts/sysroot-armhf" "$sysroot"
  configure_and_build "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/arm-linux-gnueabihf.cmake" \
    -DARM_SYSROOT="$sysroot" "$@"
}

#!/bin/sh
# systemd-analyze verify on an instance of each unit, its programs pointed
# from the installed folder to the built ones: no warning may come out.
#   systemd_unit.sh SYSTEMD-ANALYZE INSTALLED-BINDIR BUILT-BINDIR UNIT...
set -eu
analyze=$1 installed=$2 built=$3
shift 3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
status=0
for unit in "$@"; do
  name=$(basename "$unit")
  sed "s|$installed/|$built/|g" "$unit" >"$dir/$name"
  ln -s "$name" "$dir/${name%@.service}@ttyUSB0.service"
  out=$(SYSTEMD_LOG_LEVEL=warning "$analyze" verify --man=no "$dir/${name%@.service}@ttyUSB0.service" 2>&1) || status=1
  if [ -n "$out" ]; then
    echo "$name: $out"
    status=1
  fi
done
exit $status

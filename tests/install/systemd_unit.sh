#!/bin/sh
# systemd-analyze verify on an instance of the gateway's unit, its
# ExecStart pointed at the built servoctl: no warning may come out.
set -eu
analyze=$1 unit=$2 servoctl=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sed "s|^ExecStart=[^ ]*|ExecStart=$servoctl|" "$unit" >"$dir/servoctl-gateway@.service"
ln -s "servoctl-gateway@.service" "$dir/servoctl-gateway@ttyUSB0.service"
out=$(SYSTEMD_LOG_LEVEL=warning "$analyze" verify --man=no "$dir/servoctl-gateway@ttyUSB0.service" 2>&1) || {
  echo "$out"
  exit 1
}
if [ -n "$out" ]; then
  echo "$out"
  exit 1
fi

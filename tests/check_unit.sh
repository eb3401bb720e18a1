#!/usr/bin/env bash
# Installs the build into a prefix of its own and runs systemd's own checks on the unit installed
# there, whose ExecStart names the brelkcontrold installed beside it (systemd-analyze verify also
# checks that the executable exists). verify warns about an unknown key or a bad value without
# failing, so any line it writes about the unit fails the test. Exits 77 (a skip for CTest) where
# systemd-analyze is missing or cannot check even a trivial unit, as in some containers.
#
# check_unit.sh BUILD_DIR PREFIX UNIT [CONFIG]    (UNIT relative to PREFIX)
set -euo pipefail
build_dir=$1
prefix=$2
unit=$3
config=${4:-}

if ! command -v systemd-analyze >/dev/null; then
    echo "SKIP: systemd-analyze not found" >&2
    exit 77
fi

rm -rf "$prefix"
mkdir -p "$prefix/trivial"
printf '[Service]\nExecStart=/bin/true\n' >"$prefix/trivial/brelk-trivial.service"
if ! systemd-analyze verify "$prefix/trivial/brelk-trivial.service" >/dev/null 2>&1; then
    echo "SKIP: systemd-analyze verify cannot run here" >&2
    exit 77
fi

cmake --install "$build_dir" --prefix "$prefix" ${config:+--config "$config"} >/dev/null
if ! grep -qx "ExecStart=$prefix/bin/brelkcontrold .*" "$prefix/$unit"; then
    echo "FAIL: $prefix/$unit does not start $prefix/bin/brelkcontrold" >&2
    exit 1
fi

status=0
output=$(systemd-analyze verify "$prefix/$unit" 2>&1) || status=$?
about_unit=$(grep -F brelkcontrol <<<"$output" || true)
if [ "$status" -ne 0 ] || [ -n "$about_unit" ]; then
    echo "FAIL: systemd-analyze verify $prefix/$unit (exit code $status):" >&2
    echo "$output" >&2
    exit 1
fi
echo "$prefix/$unit verifies"

#!/usr/bin/env bash
# Checks that the service's executable loads no display library: a crate PC without Qt Widgets,
# Gui, DBus, X11, EGL/GL or fontconfig must run it. Exits 77 (a skip for CTest) without ldd.
set -euo pipefail
executable=$1
if ! command -v ldd >/dev/null; then
    echo "SKIP: ldd not found" >&2
    exit 77
fi
libraries=$(ldd "$executable")
forbidden=$(grep -E 'libQt[0-9]*(Widgets|Gui|DBus)|libX|libxcb|libEGL|libGL|libOpenGL|libfontconfig|libfreetype' \
    <<<"$libraries" || true)
if [ -n "$forbidden" ]; then
    echo "FAIL: $executable loads display libraries:" >&2
    echo "$forbidden" >&2
    exit 1
fi
echo "$executable loads no display library"

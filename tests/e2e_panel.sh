#!/usr/bin/env bash
# The built panel as an operator meets it: a copy of the executable in a folder of its own with a
# settings file beside it, started under a virtual X server. First against the module simulator
# at a base address other than the default, where it must poll the whole register set ten times
# a second at that address; then with no vendor library anywhere, where it must show its warning
# box and stay up. Both screens are kept as pictures in the artifacts folder.
#
# Usage: e2e_panel.sh EXECUTABLE SIMULATOR_DIR ARTIFACTS_DIR
# Exits 77 (a skip for CTest) when the virtual X server or ImageMagick is missing.
set -euo pipefail

if [ $# -ne 3 ]; then
    echo "usage: $0 EXECUTABLE SIMULATOR_DIR ARTIFACTS_DIR" >&2
    exit 2
fi

# Under the virtual X server the script runs itself a second time to do the work.
if [ "${BRELK_E2E_INNER:-}" != 1 ]; then
    for tool in xvfb-run import identify; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool not found; scripts/install-deps installs xvfb and imagemagick" >&2
            exit 77
        fi
    done
    # -a picks a free display number, so parallel runs and a desktop session never meet.
    BRELK_E2E_INNER=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
        bash "$0" "$@"
fi

# The panel must draw on the virtual X server, whatever platform the caller's environment names
# (a test runner that sets the off-screen platform would leave the screenshots blank).
export QT_QPA_PLATFORM=xcb

executable=$(realpath "$1")
simDir=$(realpath "$2")
artifacts=$3
mkdir -p "$artifacts"
artifacts=$(realpath "$artifacts")
rm -f "$artifacts"/*.png "$artifacts"/*.log

# Not the default 0xDD00, so a panel that ignored its settings file would poll the wrong address.
base=0xC000
serialOffset=0x3C
cyclesPerTick=17
pollSeconds=2
# Generous, for a loaded CI machine or a sanitizer build.
startTimeout=20

work=$(mktemp -d)
panel=
cleanup() {
    if [ -n "$panel" ] && kill -0 "$panel" 2>/dev/null; then
        kill "$panel" 2>/dev/null || true
        wait "$panel" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The panel reads brelkcontrol.ini from the folder its executable is in.
installPanel() {
    local folder=$1
    mkdir -p "$folder"
    cp "$executable" "$folder/"
    printf '[General]\nBaseAddress=%s\nVmeController=VM-USB\n' "$base" >"$folder/brelkcontrol.ini"
    echo "$folder/$(basename "$executable")"
}

# A picture of the whole screen. A screen with nothing drawn on it is one flat colour; a window
# with text on it has dozens from the antialiasing alone. Sets contentWidth and contentHeight to
# the size of what is drawn on the black root window.
screenshot() {
    local picture=$1 colours size
    import -window root "$picture"
    colours=$(identify -format '%k' "$picture")
    size=$(convert "$picture" -trim -format '%w %h' info: 2>/dev/null)
    read -r contentWidth contentHeight <<<"$size"
    echo "$(basename "$picture"): $colours colours, ${contentWidth}x${contentHeight} drawn"
    [ "$colours" -gt 16 ]
}

# Each complete tick is a run of read cycles that starts with the serial number. Prints the
# number of ticks, and fails on any cycle that is not a read with the module's address modifier
# inside the module's window at the configured base address. How many ticks a second the poll
# keeps up is the benchmarks' figure (bench_crate, bench_remote), not this test's: a loaded
# machine slows the poll without anything being wrong.
checkTicks() {
    local log=$1
    awk -v base=$((base)) -v first=$((base + serialOffset)) -v perTick="$cyclesPerTick" '
        function fail(message) { print "FAIL: " message > "/dev/stderr"; bad = 1; exit 1 }
        # Not every awk reads hexadecimal by itself.
        function hex(text,    value, i) {
            text = tolower(text); sub(/^0x/, "", text); value = 0
            for (i = 1; i <= length(text); ++i)
                value = value * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
            return value
        }
        {
            address = hex($1); modifier = hex($2); kind = $4; status = $5
            if (kind != "R") fail("unexpected write at line " NR ": " $0)
            # 0x29, A16 non-privileged data access; the module decodes 0x80 bytes.
            if (modifier != 41) fail("address modifier other than 0x29 at line " NR ": " $0)
            if (address < base || address >= base + 128)
                fail("cycle outside the module at line " NR ": " $0)
            if (status < 0) fail("failed cycle at line " NR ": " $0)
            if (address == first) {
                if (ticks > 0 && inTick != perTick)
                    fail("tick " ticks " had " inTick " cycles, not " perTick)
                ++ticks; inTick = 0
            } else if (ticks == 0) {
                fail("the first cycle is not the serial number: " $0)
            }
            ++inTick
        }
        END {
            if (bad) exit 1
            # The last tick may have been cut short by the end of the process.
            if (ticks < 2) { print "FAIL: only " ticks " ticks" > "/dev/stderr"; exit 1 }
            print ticks
        }' "$log"
}

waitForCycles() {
    local log=$1 waited=0
    while [ ! -s "$log" ]; do
        kill -0 "$panel" 2>/dev/null || fail "the panel ended before polling"
        [ "$waited" -lt $((startTimeout * 10)) ] || fail "no bus cycle within ${startTimeout} s"
        sleep 0.1
        waited=$((waited + 1))
    done
}

stopPanel() {
    kill -0 "$panel" 2>/dev/null || fail "the panel is no longer running"
    kill "$panel"
    wait "$panel" 2>/dev/null || true
    panel=
}

echo "== against the simulator at base address $base"
cycleLog=$work/cycles.log
panelExe=$(installPanel "$work/with-simulator")
LD_LIBRARY_PATH=$simDir BRELKSIM_BASE=$base BRELKSIM_LOG=$cycleLog \
    "$panelExe" >"$artifacts/with-simulator.log" 2>&1 &
panel=$!
waitForCycles "$cycleLog"
sleep "$pollSeconds"
screenshot "$artifacts/with-simulator.png" || fail "the panel's screen is blank"
panelWidth=$contentWidth
stopPanel
cp "$cycleLog" "$artifacts/cycles.log"
ticks=$(checkTicks "$cycleLog") || fail "the cycle log does not show complete ticks"
echo "$ticks complete ticks"

echo "== without any vendor library"
mkdir -p "$work/no-libraries"
panelExe=$(installPanel "$work/without-library")
LD_LIBRARY_PATH=$work/no-libraries "$panelExe" >"$artifacts/without-library.log" 2>&1 &
panel=$!
# The box appears while the window is being built, before the window itself; wait for something
# to be drawn.
waited=0
until screenshot "$artifacts/without-library.png"; do
    kill -0 "$panel" 2>/dev/null || fail "the panel ended without showing the warning box"
    [ "$waited" -lt "$startTimeout" ] || fail "nothing was drawn within ${startTimeout} s"
    sleep 1
    waited=$((waited + 1))
done
# The main window is wider than any message box; seeing it here would mean no box came up.
[ "$contentWidth" -lt "$panelWidth" ] ||
    fail "the screen shows something as wide as the panel, not the warning box"
grep -q "Cannot load library" "$artifacts/without-library.log" ||
    fail "the panel did not report a missing vendor library"
sleep 1
kill -0 "$panel" 2>/dev/null || fail "the panel ended while showing the warning box"
stopPanel
# The history window of the panel against the simulator: after a few seconds of polling, both
# plots carry lines in both channels' colours, and the screen shows the window.
if [ -n "${BRELK_E2E_HISTORY:-}" ]; then
    echo "== the history window"
    historyExe=$(realpath "$BRELK_E2E_HISTORY")
    mkdir -p "$work/history"
    cp "$historyExe" "$work/history/"
    # Channel B draws four times channel A's current, so the two current lines lie apart.
    LD_LIBRARY_PATH=$simDir BRELKSIM_LOAD_B=25 BRELKSIM_RAMP_B=100 "$work/history/$(basename "$historyExe")" \
        "$artifacts/history-window.png" 3 >"$artifacts/history.log" 2>&1 &
    panel=$!
    waited=0
    until grep -qs -e "history plots drawn" -e "FAIL:" "$artifacts/history.log"; do
        kill -0 "$panel" 2>/dev/null || fail "the history program ended early"
        [ "$waited" -lt $((startTimeout * 10)) ] || fail "no history picture within ${startTimeout} s"
        sleep 0.1
        waited=$((waited + 1))
    done
    grep "history plots drawn\|FAIL:" "$artifacts/history.log"
    grep -q "history plots drawn" "$artifacts/history.log" || fail "the history plots are not drawn"
    screenshot "$artifacts/history.png" || fail "the screen with the history window is blank"
    stopPanel
fi
echo "PASS"

#!/usr/bin/env bash
# Runs the Windows builds of the client and the link check under wine against brennix-sim on this host.
# Usage: run.sh WINDOWS_BUILD_DIR HOST_BRENNIX_SIM. Exit code 0 when every case passed.
#
# A new wine prefix maps COM ports to the machine's /dev/ttyS* devices, and /dev/ttyS0 may be the console:
# one persistent wineserver keeps the whole run in a single session, so that mapping is made once, at
# wineboot, and removed before any program runs; every case checks it has not come back.
set -uo pipefail

WIN_DIR=$(realpath "$1")
SIM=$(realpath "$2")
CLI="$WIN_DIR/cli/brennix.exe"
CHECK="$WIN_DIR/tests/link/wine/brennix-link-check.exe"
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
PORT=COM5

export WINEPREFIX="$WIN_DIR/wineprefix-$$" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WORK="$WIN_DIR/wine-run-$$"
SIM_PID=""
FAILED=0

cleanup() {
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
    "$WINESERVER" -k >/dev/null 2>&1
    rm -rf "$WINEPREFIX" "$WORK"
}
trap cleanup EXIT

drop_serial_links() {
    local link
    for link in "$WINEPREFIX"/dosdevices/com*; do
        [ -L "$link" ] || continue
        [ "$(basename "$link")" = "${PORT,,}" ] && [ "$(readlink "$link")" = "$PTY" ] && continue
        rm -f "$link"
    done
}

# Fails the run (and stops it) if wine mapped a COM port to a device of this machine again.
guard_serial_links() {
    if ls -l "$WINEPREFIX"/dosdevices/ 2>/dev/null | grep -q -- '-> /dev/ttyS'; then
        echo "FAIL wine mapped a COM port to /dev/ttyS* again; stopping before anything opens it"
        exit 1
    fi
}

PTY=""
start_sim() {
    "$SIM" "$@" >"$WORK/sim.out" 2>&1 &
    SIM_PID=$!
    for _ in $(seq 50); do
        PTY=$(head -n 1 "$WORK/sim.out" 2>/dev/null)
        [ -n "$PTY" ] && break
        sleep 0.1
    done
    rm -f "$WINEPREFIX/dosdevices/${PORT,,}"
    ln -s "$PTY" "$WINEPREFIX/dosdevices/${PORT,,}"
}

# Waits until the scan running in the background has found ID 1, so it surely holds the port: wine can take
# seconds to start on a loaded machine.
wait_for_first_find() {
    for _ in $(seq 200); do
        grep -q '^1' "$WORK/scan.out" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "FAIL the background scan found nothing within 20 s"; FAILED=1
}

stop_sim() {
    kill "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
    SIM_PID=""
}

# expect NAME CODE PATTERN -- COMMAND...: runs COMMAND under wine; passes when it exits with CODE and its
# stdout and stderr together match the extended regular expression PATTERN.
expect() {
    local name=$1 code=$2 pattern=$3
    shift 4
    guard_serial_links
    local out rc
    out=$("$WINE" "$@" 2>&1 | tr -d '\r')
    rc=${PIPESTATUS[0]}
    if [ "$rc" = "$code" ] && grep -Eq -- "$pattern" <<<"$out"; then
        echo "ok   $name"
    else
        echo "FAIL $name: exit $rc (want $code), output:"
        sed 's/^/     /' <<<"$out"
        FAILED=1
    fi
}

# expect_lines NAME CODE LINES -- COMMAND...: as expect, but COMMAND's stdout must be exactly LINES.
expect_lines() {
    local name=$1 code=$2 lines=$3
    shift 4
    guard_serial_links
    local out rc
    out=$("$WINE" "$@" 2>"$WORK/stderr" | tr -d '\r')
    rc=${PIPESTATUS[0]}
    if [ "$rc" = "$code" ] && [ "$out" = "$lines" ]; then
        echo "ok   $name"
    else
        echo "FAIL $name: exit $rc (want $code), output:"
        sed 's/^/     /' <<<"$out"
        tr -d '\r' <"$WORK/stderr" | sed 's/^/     /'
        FAILED=1
    fi
}

mkdir -p "$WINEPREFIX" "$WORK"
"$WINESERVER" -p >/dev/null 2>&1
"$WINE" wineboot -i >/dev/null 2>&1
PTY=/nonexistent
drop_serial_links
guard_serial_links

start_sim --ids 1,2,3
echo "== link check ($PORT -> $PTY)"
"$WINE" "$CHECK" "$PORT" 2>&1 | tr -d '\r' | sed 's/^/     /'
[ "${PIPESTATUS[0]}" = 0 ] && echo "ok   link check" || { echo "FAIL link check"; FAILED=1; }

echo "== client"
expect "ping" 0 '^1$' -- "$CLI" --port $PORT ping 1
expect "read" 0 '^02$' -- "$CLI" --port $PORT read 2 5 1
expect "write, read back" 0 '' -- "$CLI" --port $PORT write 2 37 00
expect "the written byte" 0 '^00$' -- "$CLI" --port $PORT read 2 37 1
expect "dump" 0 'ID +5 +1' -- "$CLI" --port $PORT dump 1
head -c 3000 /dev/urandom >"$WORK/firmware.bin"
expect "flash" 0 'flashed 47 blocks to ID 3' -- "$CLI" --port $PORT flash 3 "Z:$WORK/firmware.bin"
expect "ping after the flash" 0 '^3$' -- "$CLI" --port $PORT ping 3
expect "silent ID" 1 'no answer from ID 77 within 50 ms' -- "$CLI" --port $PORT ping 77
expect "no such COM port" 3 'no such port: COM7' -- "$CLI" --port COM7 ping 1
expect "no adapter" 3 'no adapter found' -- "$CLI" ping 1
expect "rate the driver refuses" 8 'refuses 250000 baud' -- "$CLI" --port $PORT --baud 250000 ping 1

# A whole scan holds the port for about 12 s: long enough to try a second opener once it has found ID 1.
"$WINE" "$CLI" --port $PORT scan >"$WORK/scan.out" 2>&1 &
SCAN_PID=$!
wait_for_first_find
expect "second opener refused" 4 "$PORT is busy \\(another program has it open\\)" -- "$CLI" --port $PORT ping 1
wait $SCAN_PID
SCAN_RC=$?
if [ "$SCAN_RC" = 0 ] && [ "$(tr -d '\r' <"$WORK/scan.out" | tr '\n' ' ')" = "1 2 3 " ]; then
    echo "ok   scan finds 1, 2 and 3"
else
    echo "FAIL scan: exit $SCAN_RC, output:"; sed 's/^/     /' "$WORK/scan.out"; FAILED=1
fi
stop_sim

# Servos at two rates: the all-rate scan switches the line and waits in sub-millisecond answer windows.
start_sim --servo 1 --servo 7@115200 --servo 9@38400
expect_lines "scan --all-rates" 0 $'1 1000000\n7 115200\n9 38400' -- "$CLI" --port $PORT scan --all-rates --rates 1000000,115200,38400
expect_lines "find a lone servo" 0 '9 38400' -- "$CLI" --port $PORT find --rates 38400
stop_sim

# The simulator killed mid-scan is an adapter pulled out: the scan ends at once with the lost port.
start_sim --ids 1,2,3
"$WINE" "$CLI" --port $PORT scan >"$WORK/scan.out" 2>&1 &
SCAN_PID=$!
wait_for_first_find
{ kill -9 "$SIM_PID" && wait "$SIM_PID"; } 2>/dev/null
SIM_PID=""
KILLED_AT=$(date +%s%N)
wait $SCAN_PID
SCAN_RC=$?
ENDED_MS=$((($(date +%s%N) - KILLED_AT) / 1000000))
if [ "$SCAN_RC" = 4 ] && grep -q "went away" "$WORK/scan.out" && [ "$ENDED_MS" -lt 3000 ]; then
    echo "ok   simulator killed mid-scan: lost port reported ${ENDED_MS} ms after the kill"
else
    echo "FAIL killed mid-scan: exit $SCAN_RC after ${ENDED_MS} ms, output:"; sed 's/^/     /' "$WORK/scan.out"
    FAILED=1
fi
guard_serial_links

[ "$FAILED" = 0 ] && echo "windows tests passed" || echo "windows tests FAILED"
exit $FAILED

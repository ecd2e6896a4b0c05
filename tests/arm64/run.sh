#!/usr/bin/env bash
# Runs the arm64 client under QEMU's user mode against the simulator of this machine (amd64) at the rates
# QEMU can carry: 115200, 57600 and 38400. Usage: run.sh ARM64_BUILD_DIR HOST_BRENNIX_SIM.
# Exit code 0 when every case passed.
set -uo pipefail

ARM=$(realpath "$1")
SIM=$(realpath "$2")
CLI=(qemu-aarch64 "$ARM/cli/brennix")
WORK=$(mktemp -d)
SIM_PID=""
FAILED=0

cleanup() {
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

file -b "$ARM/cli/brennix" | grep -q aarch64 || { echo "FAIL $ARM/cli/brennix is not an arm64 program"; exit 1; }

PTY=""
start_sim() {
    "$SIM" "$@" >"$WORK/sim.out" 2>&1 &
    SIM_PID=$!
    PTY=""
    for _ in $(seq 50); do
        PTY=$(head -n 1 "$WORK/sim.out" 2>/dev/null)
        [ -n "$PTY" ] && return 0
        sleep 0.1
    done
    echo "FAIL brennix-sim printed no port"; exit 1
}
stop_sim() {
    kill "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
    SIM_PID=""
}

source "$(dirname "$0")/../support/expect.sh"

echo "== arm64 brennix (QEMU user mode) against brennix-sim on this machine"
for rate in 115200 57600 38400; do
    start_sim --servo 1@$rate --servo 2@$rate
    # QEMU is slow to start and to switch: the client's timeout covers its own delays too.
    common=(--port "$PTY" --baud $rate --timeout 200)
    expect_lines "scan at $rate" 0 $'1\n2' -- "${CLI[@]}" "${common[@]}" scan 0 4
    expect "read at $rate" 0 '^02$' -- "${CLI[@]}" "${common[@]}" read 2 5 1
    expect "write at $rate" 0 '' -- "${CLI[@]}" "${common[@]}" write 2 31 01
    expect "the written byte at $rate" 0 '^01$' -- "${CLI[@]}" "${common[@]}" read 2 31 1
    expect "dump at $rate" 0 'ID +5 +1' -- "${CLI[@]}" "${common[@]}" dump 1
    stop_sim
done
start_sim --servo 1@115200 --servo 5@57600 --servo 9@38400
expect_lines "scan --all-rates over 115200, 57600 and 38400" 0 $'1 115200\n5 57600\n9 38400' -- "${CLI[@]}" \
    --port "$PTY" --baud 115200 --timeout 200 scan --all-rates --rates 115200,57600,38400 0 10
# What QEMU cannot carry is refused, never run at another rate.
expect "1000000 refused under QEMU" 8 'refuses 1000000 baud' -- "${CLI[@]}" --port "$PTY" ping 1
stop_sim

[ $FAILED = 0 ] && echo "arm64 client checks passed" || echo "arm64 client checks FAILED"
exit $FAILED

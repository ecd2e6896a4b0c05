#!/usr/bin/env bash
# Runs the client through a real ser2net (RFC 2217 on loopback) serving brennix-sim's pseudo-terminal.
# Usage: run.sh BUILD_DIR. Exit code 0 when every case passed.
#
# Our own ser2net instance with our own configuration, never the packaged service (its configuration serves
# /dev/ttyS0, which may be this machine's console). It and the simulator are killed at the end, also when a
# case fails or the run is interrupted.
set -uo pipefail

BUILD=$(realpath "$1")
CLI="$BUILD/cli/brennix"
SIM="$BUILD/sim/brennix-sim"
WORK=$(mktemp -d)
SIM_PID=""
SER2NET_PID=""
BG_PID=""
FAILED=0

cleanup() {
    for pid in $BG_PID $SER2NET_PID $SIM_PID; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

command -v ser2net >/dev/null || { echo "FAIL ser2net is not installed"; exit 1; }

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Servos 1 and 2 at 1000000, 7 at 115200, 9 at 38400.
"$SIM" --servo 1 --servo 2 --servo 7@115200 --servo 9@38400 >"$WORK/sim.out" 2>&1 &
SIM_PID=$!
PTY=""
for _ in $(seq 50); do
    PTY=$(head -n 1 "$WORK/sim.out" 2>/dev/null)
    [ -n "$PTY" ] && break
    sleep 0.1
done
[ -n "$PTY" ] || { echo "FAIL brennix-sim printed no port"; exit 1; }

TCP=$(free_port)
TCP6=$(free_port)
HAVE_IPV6=0
python3 -c 'import socket; socket.socket(socket.AF_INET6).bind(("::1", 0))' 2>/dev/null && HAVE_IPV6=1
# The configuration the README gives for a robot's computer: no kickolduser (a second client is refused), no
# banner, nodelay and no character delay (an answer goes out at once), bound to one address.
{
    echo "connection: &bus"
    echo "    accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,$TCP"
    echo "    enable: on"
    echo "    options:"
    echo "      chardelay: false"
    echo "    connector: serialdev,$PTY,1000000n81,local"
    if [ $HAVE_IPV6 = 1 ]; then
        echo "connection: &bus6"
        echo "    accepter: telnet(rfc2217),tcp(nodelay),::1,$TCP6"
        echo "    enable: on"
        echo "    options:"
        echo "      chardelay: false"
        echo "    connector: serialdev,$PTY,1000000n81,local"
    fi
} >"$WORK/ser2net.yaml"

start_ser2net() {
    ser2net -n -u -c "$WORK/ser2net.yaml" -P "$WORK/ser2net.pid" >"$WORK/ser2net.log" 2>&1 &
    SER2NET_PID=$!
    for _ in $(seq 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$TCP") 2>/dev/null && return 0
        sleep 0.1
    done
    echo "FAIL ser2net does not listen on 127.0.0.1:$TCP"; cat "$WORK/ser2net.log"; exit 1
}
start_ser2net
PORT="rfc2217://127.0.0.1:$TCP"
echo "== brennix through ser2net $(ser2net -v | awk '{print $3}') at $PORT, serving $PTY"

source "$(dirname "$0")/../support/expect.sh"

now_ms() { date +%s%3N; }

expect_lines "scan" 0 $'1\n2' -- "$CLI" --port "$PORT" scan
start=$(now_ms)
expect_lines "scan --all-rates (1000000, 115200, 38400)" 0 $'1 1000000\n2 1000000\n7 115200\n9 38400' -- \
    "$CLI" --port "$PORT" scan --all-rates
echo "     took $(($(now_ms) - start)) ms"
expect "read" 0 '^02$' -- "$CLI" --port "$PORT" read 2 5 1
expect "read at 115200" 0 '^07$' -- "$CLI" --port "$PORT" --baud 115200 read 7 5 1
expect "write" 0 '' -- "$CLI" --port "$PORT" write 2 31 01
expect "the written byte" 0 '^01$' -- "$CLI" --port "$PORT" read 2 31 1
expect "dump" 0 'ID +5 +1' -- "$CLI" --port "$PORT" dump 1
expect_lines "monitor" 0 "$(printf 'x\nx\nx\nx\nx')" -- \
    sh -c "'$CLI' --port '$PORT' monitor 1 --period 20 --count 5 --csv | tail -n +2 | sed 's/.*/x/'"
expect "set-id 2 to 3" 0 '' -- "$CLI" --port "$PORT" set-id 2 3
expect "ID 3 answers" 0 '^3$' -- "$CLI" --port "$PORT" ping 3
head -c 3000 /dev/urandom >"$WORK/firmware.bin"
expect "flash at 500000" 0 'flashed 47 blocks to ID 3' -- "$CLI" --port "$PORT" flash 3 "$WORK/firmware.bin"
expect "ID 3 answers after the flash" 0 '^3$' -- "$CLI" --port "$PORT" ping 3

# A second client while a monitor holds the port: ser2net's "Port already in use" becomes the busy message.
"$CLI" --port "$PORT" monitor 1 --period 20 >"$WORK/monitor.out" 2>&1 &
BG_PID=$!
for _ in $(seq 100); do
    [ "$(wc -l <"$WORK/monitor.out")" -ge 2 ] && break
    sleep 0.05
done
expect "second client refused" 4 "is busy .*Port already in use" -- "$CLI" --port "$PORT" ping 1
kill -INT "$BG_PID" 2>/dev/null
wait "$BG_PID" 2>/dev/null
BG_PID=""

# Last before the kill: a client on the other accepter would find the device still held for a moment.
if [ $HAVE_IPV6 = 1 ]; then
    # ser2net lets go of the device a moment after the last client left; another accepter of the same device
    # says "Port's device already in use" until then.
    for _ in $(seq 20); do
        "$CLI" --port "rfc2217://[::1]:$TCP6" ping 1 >/dev/null 2>&1 && break
        sleep 0.1
    done
    expect "IPv6 [::1]" 0 '^1$' -- "$CLI" --port "rfc2217://[::1]:$TCP6" ping 1
    for _ in $(seq 20); do
        "$CLI" --port "$PORT" ping 1 >/dev/null 2>&1 && break
        sleep 0.1
    done
else
    echo "skip IPv6: this machine has no ::1"
fi

# ser2net killed mid-scan: the client ends with the lost-port code within one timeout (50 ms) of the kill.
"$CLI" --port "$PORT" scan >"$WORK/scan.out" 2>&1 &
BG_PID=$!
for _ in $(seq 100); do
    grep -q '^1$' "$WORK/scan.out" 2>/dev/null && break
    sleep 0.05
done
killed=$(now_ms)
kill -9 "$SER2NET_PID"
wait "$BG_PID" 2>/dev/null
rc=$?
ended=$(now_ms)
BG_PID=""
wait "$SER2NET_PID" 2>/dev/null
SER2NET_PID=""
if [ "$rc" = 4 ] && grep -q "lost $PORT: 127.0.0.1:$TCP closed the connection" "$WORK/scan.out" &&
    [ $((ended - killed)) -lt 250 ]; then
    echo "ok   ser2net killed mid-scan: exit 4 after $((ended - killed)) ms"
else
    echo "FAIL ser2net killed mid-scan: exit $rc after $((ended - killed)) ms (want 4 within one timeout), output:"
    sed 's/^/     /' "$WORK/scan.out"
    FAILED=1
fi
expect "nothing serves the port now" 4 "refused the connection" -- "$CLI" --port "$PORT" ping 1

[ $FAILED = 0 ] && echo "remote checks passed" || echo "remote checks FAILED"
exit $FAILED

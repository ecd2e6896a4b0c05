# Shared helpers of the guest checks: every check prints one RIG-OK or RIG-FAIL line for the host to collect.
status=pass
fail() {
    echo "RIG-FAIL $*"
    status=fail
}
ok() { echo "RIG-OK $*"; }

# Waits poll every 5 ms with shell builtins and usleep only: forking a clock program on every round would
# take the one emulated processor away from the command being timed.

# Loads the listed drivers in order from /lib/rig; false (and a failed check) when one does not load.
load_drivers() {
    for name in "$@"; do
        insmod "/lib/rig/$name.ko" 2>/tmp/insmod.err || {
            fail "driver $name did not load: $(head -c 200 /tmp/insmod.err)"
            return 1
        }
    done
}

# wait_path present|absent PATH MS: waits until PATH exists (or is gone); false after about MS milliseconds.
wait_path() {
    _rounds=$(($3 / 5))
    while [ "$_rounds" -gt 0 ]; do
        if [ "$1" = present ] && [ -e "$2" ]; then return 0; fi
        if [ "$1" = absent ] && [ ! -e "$2" ]; then return 0; fi
        _rounds=$((_rounds - 1))
        usleep 5000
    done
    return 1
}

# wait_text FILE TEXT MS: waits until FILE holds TEXT; false after about MS milliseconds.
wait_text() {
    _rounds=$(($3 / 5))
    while [ "$_rounds" -gt 0 ]; do
        grep -q "$2" "$1" 2>/dev/null && return 0
        _rounds=$((_rounds - 1))
        usleep 5000
    done
    return 1
}

# check NAME CODE WANTED COMMAND...: runs COMMAND; it must exit with CODE and print WANTED (whitespace
# folded to single spaces).
check() {
    _name=$1 _code=$2 _want=$3
    shift 3
    _out=$("$@" 2>/tmp/check.err)
    _got=$?
    _out=$(echo $_out)
    if [ "$_got" -eq "$_code" ] && [ "$_out" = "$_want" ]; then
        ok "$_name"
    else
        fail "$_name: exit $_got (want $_code), printed '$_out' (want '$_want'): $(tr '\r\n' '  ' </tmp/check.err | tail -c 200)"
    fi
}

# At each rate of $rates, through the caller's brennix function: a scan finds servos 1-3 (and nothing at the
# silent IDs 0 and 4), a read gives a servo's ID register, a write lands and reads back, and is undone.
rate_checks() {
    for rate in $(echo "$rates" | tr , ' '); do
        check "scan at $rate" 0 "1 2 3" brennix --baud "$rate" scan 0 4
        check "read at $rate" 0 "02" brennix --baud "$rate" read 2 5 1
        check "write at $rate" 0 "" brennix --baud "$rate" write 3 31 01
        check "read back at $rate" 0 "01" brennix --baud "$rate" read 3 31 1
        check "write back at $rate" 0 "" brennix --baud "$rate" write 3 31 00
    done
}

# The USB vendor:product ID (lower-case hex) of the device behind a tty, from sysfs.
usb_id_of() {
    _dir=$(readlink -f "/sys/class/tty/$1/device")
    while [ -n "$_dir" ] && [ "$_dir" != / ] && [ ! -f "$_dir/idVendor" ]; do _dir=${_dir%/*}; done
    [ -f "$_dir/idVendor" ] && echo "$(cat "$_dir/idVendor"):$(cat "$_dir/idProduct")"
}

# The reply timeout of the commands that get unplugged: that of the boot loader's exchanges (500 ms), which a
# flash uses whatever --timeout says; the long scans are given the same, so "within one timeout" means one
# thing for both and leaves an emulated guest on a busy machine room to be scheduled.
unplug_timeout=500

# unplug_during NAME PID OUT PORT ACTION...: PID (a command writing stderr to OUT.err) is mid-exchange on
# PORT; ACTION pulls the adapter. The command must end with the lost-port exit code (4) within one timeout of
# the port's removal (a command that noticed only by a reply timing out would take longer), and the device
# must be gone.
unplug_during() {
    _name=$1 _pid=$2 _out=$3 _port=$4
    shift 4
    /bin/rig-watch "$_pid" "$_port" "$unplug_timeout" >/tmp/watch.out &
    _watch=$!
    wait_text /tmp/watch.out watching 10000 || fail "$_name: rig-watch did not start"
    "$@"
    wait "$_watch"
    _verdict=$?
    wait "$_pid"
    _code=$?
    _took=$(tail -n 1 /tmp/watch.out)
    echo "RIG-INFO $_name: $_took"
    if [ "$_code" -ne 4 ]; then
        fail "$_name: exit $_code (want 4, lost port): $(tr '\r\n' '  ' <"$_out.err" | tail -c 200)"
    elif ! grep -q "went away" "$_out.err"; then
        fail "$_name: exit 4 without saying the port went away: $(tail -c 200 "$_out.err")"
    elif [ "$_verdict" -ne 0 ]; then
        fail "$_name: $_took (one timeout is ${unplug_timeout} ms)"
    else
        ok "$_name"
    fi
    if [ -e "$_port" ]; then fail "$_name: $_port is still there"; else ok "$_name: $_port is gone"; fi
}

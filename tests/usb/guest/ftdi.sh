# The emulated FTDI adapter (0403:6001) under the real ftdi_sio driver; brennix-sim serves its far end on the
# host. The host unplugs the adapter when asked with RIG-UNPLUG and plugs it in again on RIG-REPLUG.
port=/dev/ttyUSB0
id=0403:6001
brennix() { /bin/brennix --usb-id "$id" --timeout "$timeout" "$@"; }
latency=/sys/bus/usb-serial/devices/ttyUSB0/latency_timer

ftdi_checks() {
    load_drivers usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio || return
    wait_path present "$port" 10000 || {
        fail "the adapter did not appear as $port"
        return
    }
    [ "$(usb_id_of ttyUSB0)" = "$id" ] && ok "$port is USB $id" || fail "$port is USB '$(usb_id_of ttyUSB0)'"
    before=$(cat "$latency")

    # The default USB ID is ours, so this adapter is not taken for one of ours.
    check "no adapter with the default USB ID" 3 "" /bin/brennix scan 1 1

    base=${rates%%,*}
    rate_checks
    check "flash" 0 "flashed 192 blocks to ID 1" brennix --baud "$base" flash 1 /rig/fw.bin
    check "the servo is back after the flash" 0 "1" brennix --baud "$base" ping 1

    # A whole-bus scan spends seconds on silent IDs: time to look at the open port and then pull it.
    brennix --timeout "$unplug_timeout" --baud "$base" scan >/tmp/scan.out 2>/tmp/scan.err &
    scan=$!
    if ! wait_text /tmp/scan.out 3 10000; then
        fail "the long scan found no servo 3: $(tail -c 200 /tmp/scan.err)"
        kill $scan
        return
    fi
    now=$(cat "$latency")
    if [ "$now" = 1 ] && [ "$before" != 1 ]; then
        ok "latency timer $before ms before the first open, 1 ms while open"
    else
        fail "latency timer is $now ms while the port is open, $before ms before"
    fi
    check "a second opener is refused" 4 "" brennix --baud "$base" ping 1
    unplug_during "unplug mid-scan" $scan /tmp/scan "$port" echo RIG-UNPLUG

    echo RIG-REPLUG
    wait_path present "$port" 10000 || {
        fail "the adapter did not come back as $port"
        return
    }
    brennix --timeout "$unplug_timeout" --baud "$base" flash 1 /rig/fw.bin >/tmp/flash.out 2>/tmp/flash.err &
    flash=$!
    if ! wait_text /tmp/flash.err "block 20/" 20000; then
        fail "the flash did not get under way: $(tail -c 200 /tmp/flash.err)"
        kill $flash
        return
    fi
    unplug_during "unplug mid-flash" $flash /tmp/flash "$port" echo RIG-UNPLUG
}
ftdi_checks

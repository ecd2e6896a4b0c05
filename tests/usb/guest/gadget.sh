# The adapter we are made for: the dummy host controller and the serial gadget make a CDC-ACM device with our
# USB ID, served by the real cdc_acm driver as /dev/ttyACM0; brennix-sim serves the gadget's end, /dev/ttyGS0.
# Removing the gadget's driver is the unplug.
port=/dev/ttyACM0
brennix() { /bin/brennix --timeout "$timeout" "$@"; }

# Plugs the gadget in and starts the simulator on its end; false (with a failed check) when either fails.
plug_in() {
    insmod /lib/rig/g_serial.ko use_acm=1 idVendor=0x16c0 idProduct=0x05e1 2>/tmp/insmod.err || {
        fail "the serial gadget did not load: $(head -c 200 /tmp/insmod.err)"
        return 1
    }
    wait_path present /dev/ttyGS0 5000 || {
        fail "the gadget's /dev/ttyGS0 did not appear"
        return 1
    }
    # The host's enumeration resets the gadget, which hangs up its tty: serve it only once that is over.
    wait_path present "$port" 5000 || {
        fail "cdc_acm did not make $port"
        return 1
    }
    /bin/brennix-sim $sim_args --device /dev/ttyGS0 >/tmp/sim.out 2>/tmp/sim.err &
    sim=$!
    wait_text /tmp/sim.out /dev/ttyGS0 5000 || {
        fail "brennix-sim did not serve /dev/ttyGS0: $(tail -c 200 /tmp/sim.err)"
        return 1
    }
}

# The unplug: the host loses the device as soon as the gadget's driver starts going, but the driver waits
# for its tty to be closed before it is gone, so the simulator lets go once the host's port has gone.
pull_out() {
    rmmod g_serial 2>/tmp/rmmod.err &
    _rmmod=$!
    wait_path absent "$port" 5000
    kill $sim
    wait $sim
    wait $_rmmod || fail "rmmod g_serial: $(head -c 200 /tmp/rmmod.err)"
}

gadget_checks() {
    load_drivers configfs usb-common usbcore udc-core dummy_hcd libcomposite u_serial usb_f_acm cdc-acm || return
    plug_in || return
    [ "$(usb_id_of ttyACM0)" = 16c0:05e1 ] && ok "$port is USB 16c0:05e1" ||
        fail "$port is USB '$(usb_id_of ttyACM0)'"

    # No --port and no --usb-id: the adapter is found by its default USB ID.
    rate_checks
    base=${rates%%,*}
    check "flash" 0 "flashed 192 blocks to ID 1" brennix --baud "$base" flash 1 /rig/fw.bin
    check "the servo is back after the flash" 0 "1" brennix --baud "$base" ping 1

    brennix --timeout "$unplug_timeout" --baud "$base" scan >/tmp/scan.out 2>/tmp/scan.err &
    scan=$!
    if ! wait_text /tmp/scan.out 3 10000; then
        fail "the long scan found no servo 3: $(tail -c 200 /tmp/scan.err)"
        kill $scan
        return
    fi
    check "a second opener is refused" 4 "" brennix --baud "$base" ping 1
    unplug_during "rmmod g_serial mid-scan" $scan /tmp/scan "$port" pull_out

    plug_in || return
    brennix --timeout "$unplug_timeout" --baud "$base" flash 1 /rig/fw.bin >/tmp/flash.out 2>/tmp/flash.err &
    flash=$!
    if ! wait_text /tmp/flash.err "block 20/" 20000; then
        fail "the flash did not get under way: $(tail -c 200 /tmp/flash.err)"
        kill $flash
        return
    fi
    unplug_during "rmmod g_serial mid-flash" $flash /tmp/flash "$port" pull_out
}
gadget_checks

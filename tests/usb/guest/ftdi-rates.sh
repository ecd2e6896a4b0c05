# The emulated FTDI adapter under ftdi_sio with brennix-sim on the host hearing each servo only at its own
# rate (no --any-rate), at the rates QEMU's bridge carries exactly: a rate set through the driver must reach
# the wire. Servos 1-3 answer at each of those rates, servo 7 at 115200 until it is moved.
port=/dev/ttyUSB0
id=0403:6001
brennix() { /bin/brennix --usb-id "$id" --timeout "$timeout" "$@"; }

exact_rate_checks() {
    load_drivers usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio || return
    wait_path present "$port" 10000 || {
        fail "the adapter did not appear as $port"
        return
    }
    first=${rates%%,*}
    rate_checks
    check "ID 7 answers at $first" 0 "7" brennix --baud "$first" scan 7 7
    check "set-rate through ftdi_sio" 0 "ID 7 now answers at 57600 baud" brennix --baud "$first" set-rate 7 57600
    check "ID 7 answers at 57600" 0 "7" brennix --baud 57600 scan 7 7
    check "ID 7 is gone from $first" 1 "" brennix --baud "$first" scan 7 7
    # What the line showed at 57600: the ping and its answer, with the times the client saw them.
    brennix --baud 57600 --trace ping 7 >/dev/null 2>/tmp/trace.err
    echo "RIG-INFO at 57600: $(tr '\n' '|' </tmp/trace.err | tail -c 240)"
    # The bridge turns 76800 into 115200, so only the rates it carries exactly are scanned.
    check "an all-rate scan finds each servo at its own rate" 0 \
        "1 115200 2 115200 3 115200 1 57600 2 57600 3 57600 7 57600 1 38400 2 38400 3 38400" \
        brennix scan --all-rates --rates "$rates" 0 9
    check "set-rate 7 back" 0 "ID 7 now answers at $first baud" brennix --baud 57600 set-rate 7 "$first"
}
exact_rate_checks

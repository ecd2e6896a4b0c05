#!/usr/bin/env python3
"""Runs the brennix CLI inside QEMU guests, through the kernel's real USB serial drivers (make test-usb).

Three guests boot Debian's own kernel under TCG with an initramfs built here: "ftdi" gets QEMU's emulated FTDI
adapter, driven by ftdi_sio, with brennix-sim serving the far end on this host (hearing at any rate, for the
rates the bridge cannot carry exactly); "ftdi-rates" the same adapter with brennix-sim hearing each servo only
at its own rate, at the rates the bridge carries exactly, so a rate set through the driver must reach the
wire; "gadget" makes a CDC-ACM device with our USB ID from the dummy host controller and the serial gadget,
driven by cdc_acm, with brennix-sim serving the gadget's tty inside the guest. The guests' checks (tests/usb/guest/) print RIG-*
lines on the console; this script answers unplug requests on QEMU's monitor and fails, naming the step,
whenever something is missing, a guest does not boot or a check fails. It never passes without a result.
"""

import argparse
import glob
import os
import queue
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
# Drivers the guests load, in order (none of Debian's kernel has these built in).
MODULES = {
    "usb-common": "drivers/usb/common",
    "usbcore": "drivers/usb/core",
    "xhci-hcd": "drivers/usb/host",
    "xhci-pci": "drivers/usb/host",
    "usbserial": "drivers/usb/serial",
    "ftdi_sio": "drivers/usb/serial",
    "configfs": "fs/configfs",
    "udc-core": "drivers/usb/gadget/udc",
    "dummy_hcd": "drivers/usb/gadget/udc",
    "libcomposite": "drivers/usb/gadget",
    "u_serial": "drivers/usb/gadget/function",
    "usb_f_acm": "drivers/usb/gadget/function",
    "cdc-acm": "drivers/usb/class",
    "g_serial": "drivers/usb/gadget/legacy",
}
# From QEMU's start to the guest's init: about 4 s on an idle machine, 30 to 110 s seen on a busy one.
BOOT_SECONDS = 180
GUEST_SECONDS = 420  # the whole guest, checks included
ADAPTER = "usb-serial,chardev=c0,id=adapter"


class RigError(Exception):
    """A step of the rig failed; the message names it."""


def step(name, message):
    return RigError(f"test-usb: step '{name}' failed: {message}")


def find_kernel(root):
    images = sorted(glob.glob(os.path.join(root, "boot", "vmlinuz-*")))
    if not images:
        raise step("kernel", f"no vmlinuz-* under {root}/boot (make test-usb downloads it)")
    version = os.path.basename(images[-1])[len("vmlinuz-"):]
    modules = os.path.join(root, "lib", "modules", version, "kernel")
    if not os.path.isdir(modules):
        raise step("kernel", f"no modules for {version} under {root}/lib/modules")
    return images[-1], modules


def libraries_of(program):
    """The shared libraries (and the loader) a program needs, as ldd lists them."""
    result = subprocess.run(["ldd", program], capture_output=True, text=True)
    if result.returncode != 0:
        raise step("initramfs", f"ldd {program}: {result.stderr.strip()}")
    paths = []
    for line in result.stdout.splitlines():
        words = line.split()
        if "=>" in words and len(words) > words.index("=>") + 1:
            paths.append(words[words.index("=>") + 1])
        elif words and words[0].startswith("/"):
            paths.append(words[0])
    return [p for p in paths if os.path.isfile(p)]


def copy_into(root, source, target=None):
    target = os.path.join(root, (target or source).lstrip("/"))
    os.makedirs(os.path.dirname(target), exist_ok=True)
    shutil.copy2(source, target)


def firmware_image():
    """192 blocks of 64 bytes that differ from block to block, the same on every run."""
    return bytes((i * 7 + i // 64) & 0xFF for i in range(192 * 64))


def build_initramfs(build, modules, work):
    programs = {"brennix": os.path.join(build, "cli", "brennix"),
                "brennix-sim": os.path.join(build, "sim", "brennix-sim"),
                "rig-watch": os.path.join(build, "tests", "usb", "rig-watch")}
    for name, path in programs.items():
        if not os.access(path, os.X_OK):
            raise step("initramfs", f"{path} is missing: build {name} first")
    busybox = shutil.which("busybox", path="/bin:/usr/bin")
    if not busybox:
        raise step("initramfs", "busybox is missing (apt-get install busybox-static)")
    if shutil.which("cpio") is None:
        raise step("initramfs", "cpio is missing (apt-get install cpio)")
    root = tempfile.mkdtemp(prefix="initramfs-", dir=work)
    for folder in ("bin", "proc", "sys", "dev", "tmp", "lib/rig", "rig"):
        os.makedirs(os.path.join(root, folder), exist_ok=True)
    copy_into(root, busybox, "/bin/busybox")
    os.symlink("busybox", os.path.join(root, "bin", "sh"))  # for /init's #! line; init links the rest
    for name, path in programs.items():
        # Without their debug sections the programs are a fraction of the size, and the guest boots faster.
        stripped = subprocess.run(["strip", "--strip-debug", "-o", os.path.join(root, "bin", name), path],
                                  capture_output=True, text=True)
        if stripped.returncode != 0:
            raise step("initramfs", f"strip {path}: {stripped.stderr.strip()}")
        for library in libraries_of(path):
            copy_into(root, library)
    for name, folder in MODULES.items():
        source = os.path.join(modules, folder, name + ".ko")
        if not os.path.isfile(source):
            raise step("initramfs", f"the kernel has no {name}.ko (looked in {folder})")
        copy_into(root, source, f"/lib/rig/{name}.ko")
    guest = os.path.join(HERE, "guest")
    copy_into(root, os.path.join(guest, "init"), "/init")
    os.chmod(os.path.join(root, "init"), 0o755)
    for script in ("lib.sh", "ftdi.sh", "ftdi-rates.sh", "gadget.sh"):
        copy_into(root, os.path.join(guest, script), "/rig/" + script)
    with open(os.path.join(root, "rig", "fw.bin"), "wb") as image:
        image.write(firmware_image())
    archive = os.path.join(work, "initramfs.cpio")
    files = subprocess.run(["find", "."], cwd=root, capture_output=True, check=True).stdout
    with open(archive, "wb") as out:
        packed = subprocess.run(["cpio", "-o", "-H", "newc", "--quiet"], cwd=root, input=files, stdout=out,
                                stderr=subprocess.PIPE)
    shutil.rmtree(root)
    if packed.returncode != 0:
        raise step("initramfs", f"cpio: {packed.stderr.decode(errors='replace').strip()}")
    return archive


class Monitor:
    """QEMU's human monitor on a unix socket: one command at a time, each waited for."""

    def __init__(self, path):
        self.path = path

    def command(self, text):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as sock:
            sock.settimeout(10)
            sock.connect(self.path)
            self._until_prompt(sock)
            sock.sendall(text.encode() + b"\n")
            return self._until_prompt(sock)

    @staticmethod
    def _until_prompt(sock):
        seen = b""
        while not seen.rstrip().endswith(b"(qemu)"):
            chunk = sock.recv(4096)
            if not chunk:
                break
            seen += chunk
        return seen.decode(errors="replace")


def replug(monitor):
    """Puts the adapter back. device_del only asks the guest to let go: until QEMU has taken the device down,
    its ID and its chardev are still in use and device_add is refused, so it is asked again for a while."""
    deadline = time.monotonic() + 10
    while True:
        reply = monitor.command("device_add " + ADAPTER)
        if not any(word in reply for word in ("rror", "Duplicate", "in use")):
            return
        if time.monotonic() > deadline:
            print("   replug refused: " + " ".join(reply.split()), flush=True)
            return
        time.sleep(0.2)


def start_host_simulator(build, sim_args):
    """brennix-sim on this host; returns the process and the pseudo-terminal it serves."""
    command = [os.path.join(build, "sim", "brennix-sim")] + sim_args
    sim = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    lines = queue.Queue()
    threading.Thread(target=lambda: lines.put(sim.stdout.readline()), daemon=True).start()
    try:
        path = lines.get(timeout=10).strip()
    except queue.Empty:
        path = ""
    if not path.startswith("/dev/"):
        sim.kill()
        raise step("simulator", f"{' '.join(command)} printed no port: {sim.stderr.read().strip()}")
    return sim, path


def console_tail(path, lines=8):
    with open(path, errors="replace") as log:
        tail = [line.rstrip() for line in log.readlines()[-lines:]]
    return "".join("\n    " + line for line in tail)


def guest_setup(name, options):
    """The rates a guest checks and the options of the simulator on this host (None: no host simulator)."""
    exact = options.exact_rates.split(",")
    if name == "ftdi":
        return ",".join(r for r in options.rates.split(",") if r not in exact), options.host_sim_args
    if name == "ftdi-rates":
        return options.exact_rates, options.exact_sim_args
    return options.rates, None


def run_guest(name, kernel, initrd, work, options):
    """Boots one guest and runs its checks; returns the number of failed checks."""
    monitor_path = os.path.join(work, f"{name}.monitor")
    if os.path.exists(monitor_path):
        os.unlink(monitor_path)
    rates, host_sim_args = guest_setup(name, options)
    # no_timer_check: an emulated processor starved by a busy host can miss the kernel's early check that the
    # timer interrupt arrives, and the boot then ends in a panic ("IO-APIC + timer doesn't work").
    append = (f"console=ttyS0 panic=-1 quiet loglevel=3 no_timer_check rig={name} rates={rates} "
              f"timeout={options.timeout} simargs={'+'.join(options.guest_sim_args)}")
    command = [options.qemu, "-accel", "tcg", "-m", "512", "-nographic", "-no-reboot", "-kernel", kernel,
               "-initrd", initrd, "-append", append, "-net", "none", "-vga", "none", "-monitor", f"unix:{monitor_path},server,nowait"]
    sim = None
    if host_sim_args is not None:
        sim, pty = start_host_simulator(options.build, host_sim_args)
        command += ["-device", "qemu-xhci", "-chardev", f"serial,id=c0,path={pty}", "-device", ADAPTER]
    log_path = os.path.join(work, f"{name}.log")
    print(f"== guest '{name}' (log: {log_path})", flush=True)
    qemu = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    lines = queue.Queue()

    def pump():
        for raw in qemu.stdout:
            lines.put(raw.decode(errors="replace").rstrip("\r\n"))
        lines.put(None)

    threading.Thread(target=pump, daemon=True).start()
    monitor = Monitor(monitor_path)
    started = time.monotonic()
    booted = False
    result = None
    failures = 0
    try:
        with open(log_path, "w") as log:
            while result is None:
                limit = BOOT_SECONDS if not booted else GUEST_SECONDS
                left = started + limit - time.monotonic()
                try:
                    line = lines.get(timeout=max(left, 0.1))
                except queue.Empty:
                    what = "did not boot" if not booted else "gave no result"
                    log.flush()
                    raise step(f"guest {name}", f"{what} within {limit} s (console in {log_path}):"
                                                f"{console_tail(log_path)}")
                if line is None:
                    log.flush()
                    raise step(f"guest {name}", f"QEMU ended (exit {qemu.wait()}) before the guest gave a "
                                                f"result (console in {log_path}):{console_tail(log_path)}")
                log.write(line + "\n")
                log.flush()
                marker = line[line.find("RIG-"):] if "RIG-" in line else ""
                if not marker:
                    continue
                if marker == "RIG-BOOTED":
                    booted = True
                    print(f"   booted in {time.monotonic() - started:.1f} s", flush=True)
                elif marker == "RIG-UNPLUG":
                    monitor.command("device_del adapter")
                elif marker == "RIG-REPLUG":
                    replug(monitor)
                elif marker.startswith("RIG-RESULT"):
                    result = marker.split()[-1]
                else:
                    failures += marker.startswith("RIG-FAIL")
                    print("   " + marker[4:], flush=True)
        if result != "pass" and failures == 0:
            raise step(f"guest {name}", f"ended '{result}' without naming a failed check")
        print(f"   guest '{name}': {result} in {time.monotonic() - started:.1f} s", flush=True)
        return failures
    finally:
        for process in (qemu, sim):
            if process and process.poll() is None:
                process.kill()
                process.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="build tree holding cli/brennix and sim/brennix-sim")
    parser.add_argument("--kernel-root", required=True, help="unpacked linux-image package (boot/, lib/)")
    parser.add_argument("--work", required=True, help="folder for the initramfs, logs and sockets")
    parser.add_argument("--guests", default="ftdi,ftdi-rates,gadget")
    parser.add_argument("--rates", default="1000000,500000,250000,128000,115200,76800,57600,38400",
                        help="line rates to scan, read and write at; the first is also the flashes' and unplugs'")
    # Twice the CLI's default: an emulated guest on a busy machine runs many times slower than the real thing.
    parser.add_argument("--timeout", type=int, default=100, help="the CLI's reply timeout, ms")
    parser.add_argument("--host-sim-args", default="--any-rate", help="brennix-sim options for the FTDI guest")
    parser.add_argument("--exact-rates", default="115200,57600,38400",
                        help="rates QEMU's FTDI bridge carries exactly: checked without --any-rate")
    parser.add_argument("--exact-sim-args", default="",
                        help="brennix-sim options for the exact-rate FTDI guest (default: servos 1-3 at each "
                             "exact rate and servo 7 at the first; no --any-rate)")
    parser.add_argument("--guest-sim-args", default="--any-rate", help="brennix-sim options in the gadget guest")
    options = parser.parse_args()
    options.host_sim_args = options.host_sim_args.split()
    exact = options.exact_rates.split(",")
    options.exact_sim_args = options.exact_sim_args.split() or [
        word for rate in exact for servo in (1, 2, 3) for word in ("--servo", f"{servo}@{rate}")
    ] + ["--servo", f"7@{exact[0]}"]
    options.guest_sim_args = options.guest_sim_args.split()
    try:
        options.qemu = shutil.which("qemu-system-x86_64")
        if not options.qemu:
            raise step("qemu", "qemu-system-x86_64 is missing (apt-get install qemu-system-x86)")
        os.makedirs(options.work, exist_ok=True)
        kernel, modules = find_kernel(options.kernel_root)
        initrd = build_initramfs(options.build, modules, options.work)
        failures = 0
        for name in options.guests.split(","):
            failures += run_guest(name, kernel, initrd, options.work, options)
    except RigError as error:
        print(error, file=sys.stderr)
        return 1
    if failures:
        print(f"test-usb: {failures} check(s) failed", file=sys.stderr)
        return 1
    print("test-usb: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())

# Brennix Debug: one-command set-up, build, test and run on Debian 12.
PRESET ?= dev
JOBS ?= $(shell nproc)
BUILD_DIR := build/$(PRESET)

# Debian packages the build, the tests and the simulated GUI run need.
# g++ brings the sanitizer runtimes for test-asan and test-tsan (libasan8, libubsan1, liblsan0, libtsan2).
# python3 writes the manual pages from the programs' --help.
DEPS := cmake make g++ pkg-config qt6-base-dev libgl-dev libserialport-dev libgtest-dev libgmock-dev \
        libbenchmark-dev xvfb xauth fonts-dejavu-core python3

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps configure build test test-asan test-tsan test-windows test-usb test-remote test-arm64 run bench clean install \
        package package-check

deps:
	@missing=""; for p in $(DEPS); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

configure: deps
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET) -j$(JOBS)

test: build
	ctest --preset $(PRESET) --timeout 300

# The whole suite under AddressSanitizer + UndefinedBehaviorSanitizer: any report fails its test. The
# sanitizer options and suppressions (tests/sanitizers/) come with the test presets.
test-asan:
	$(MAKE) test PRESET=asan

# The suite under ThreadSanitizer. It is the threaded tests that matter here (link hammering, node search,
# status poll, parameter sequences, firmware transfer, fault scenarios, shutting down during each), but the
# whole suite takes only minutes, so nothing threaded can be left out of the selection. A report fails its
# test (exit code 66).
test-tsan:
	$(MAKE) test PRESET=tsan

# The CLI through the kernel's real USB serial drivers, in two QEMU guests (TCG) booting Debian's own kernel:
# an emulated FTDI adapter under ftdi_sio with brennix-sim on this host at the far end, and a CDC-ACM gadget
# with our USB ID under cdc_acm with brennix-sim inside the guest (tests/usb/). The kernel package is
# downloaded once and kept unpacked under build/usb-kernel.
USB_DEPS := qemu-system-x86 busybox-static cpio python3 binutils
# Every servo rate; the first is also the rate of the flashes and the unplugs. QEMU's FTDI bridge hands the
# host a standard termios rate near the guest's, and the gadget carries none: the servos hear any rate. The
# rates the bridge carries exactly are checked in a guest of their own without --any-rate (servos 1-3 at each,
# servo 7 moved from 115200 to 57600), so a rate set through ftdi_sio must reach the wire.
USB_RATES ?= 1000000,500000,250000,128000,115200,76800,57600,38400
USB_HOST_SIM ?= --any-rate
USB_GUEST_SIM ?= --any-rate
USB_EXACT_RATES ?= 115200,57600,38400
test-usb:
	$(MAKE) deps DEPS="$(DEPS) $(USB_DEPS)"
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET) -j$(JOBS) --target brennix brennix-sim rig-watch
	kernel=$$(tests/usb/fetch-kernel.sh build/usb-kernel) && \
	python3 tests/usb/rig.py --build $(BUILD_DIR) --kernel-root "$$kernel" --work build/usb \
	  --rates $(USB_RATES) --host-sim-args="$(USB_HOST_SIM)" --guest-sim-args="$(USB_GUEST_SIM)" \
	  --exact-rates $(USB_EXACT_RATES)

# The link, the client and a link check cross-built for Windows with mingw-w64 (preset windows-cross, no Qt)
# and run under wine against brennix-sim on this machine; tests/link/wine/run.sh says what runs. Only the
# targets the run needs are built, through ccache where it is installed.
WINDOWS_DEPS := g++-mingw-w64-x86-64-posix wine64
CCACHE := $(shell command -v ccache 2>/dev/null)
test-windows:
	$(MAKE) configure DEPS="$(DEPS) $(WINDOWS_DEPS)"
	cmake --build --preset $(PRESET) -j$(JOBS) --target brennix-sim
	cmake --preset windows-cross \
	  $(if $(CCACHE),-DCMAKE_CXX_COMPILER_LAUNCHER=$(CCACHE) -DCMAKE_C_COMPILER_LAUNCHER=$(CCACHE))
	cmake --build --preset windows-cross -j$(JOBS) --target brennix brennix-link-check
	tests/link/wine/run.sh build/windows-cross $(BUILD_DIR)/sim/brennix-sim

# The client through a real ser2net on loopback (RFC 2217), serving brennix-sim's pseudo-terminal
# (tests/remote/run.sh). Debian's ser2net is installed without starting or enabling its packaged service,
# whose configuration serves /dev/ttyS0 (this machine's console): the run starts its own instance with its
# own configuration and kills it at the end.
test-remote:
	$(MAKE) deps
	@if ! dpkg-query -W -f='$${Status}' ser2net 2>/dev/null | grep -q 'install ok installed'; then \
	  echo "Installing: ser2net (its service held back)"; \
	  held=""; if [ ! -e /usr/sbin/policy-rc.d ]; then \
	    printf '#!/bin/sh\nexit 101\n' | $(SUDO) tee /usr/sbin/policy-rc.d >/dev/null && \
	    $(SUDO) chmod 755 /usr/sbin/policy-rc.d && held=1; fi; \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends ser2net; status=$$?; \
	  [ -n "$$held" ] && $(SUDO) rm -f /usr/sbin/policy-rc.d; \
	  if command -v systemctl >/dev/null; then $(SUDO) systemctl disable ser2net.service >/dev/null 2>&1; fi; \
	  exit $$status; \
	fi
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET) -j$(JOBS) --target brennix brennix-sim
	tests/remote/run.sh $(BUILD_DIR)

# The link, the client, the simulator and their tests cross-built for arm64 with Debian's cross toolchain and
# :arm64 libraries (preset arm64-cross, no GUI, no benchmarks, through ccache where it is installed), run
# here under QEMU's user mode; then the arm64 client against the amd64 simulator (tests/arm64/run.sh).
ARM64_DEPS := crossbuild-essential-arm64 qemu-user libstdc++6:arm64 libgtest-dev:arm64 libgmock-dev:arm64 \
              libserialport-dev:arm64
test-arm64:
	@dpkg --print-foreign-architectures | grep -qx arm64 || \
	  { echo "Adding the arm64 architecture"; $(SUDO) dpkg --add-architecture arm64 && $(SUDO) apt-get update -qq; }
	$(MAKE) configure DEPS="$(DEPS) $(ARM64_DEPS)"
	cmake --build --preset $(PRESET) -j$(JOBS) --target brennix-sim
	cmake --preset arm64-cross \
	  $(if $(CCACHE),-DCMAKE_CXX_COMPILER_LAUNCHER=$(CCACHE) -DCMAKE_C_COMPILER_LAUNCHER=$(CCACHE))
	cmake --build --preset arm64-cross -j$(JOBS) --target brennix brennix-sim test_link_unit test_link_e2e \
	  test_cli test_sim
	ctest --preset arm64-cross --timeout 300
	tests/arm64/run.sh build/arm64-cross $(BUILD_DIR)/sim/brennix-sim

# With a display the tool starts on a simulated bus; without one it takes the demo tour under Xvfb and
# prints the paths of the pictures it left in TOUR_DIR.
TOUR_DIR ?= build/tour
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  $(BUILD_DIR)/app/brennix-debug --simulate; \
	else \
	  echo "No display: taking the demo tour under Xvfb; pictures in $(TOUR_DIR)/"; \
	  xvfb-run -a $(BUILD_DIR)/app/brennix-debug --simulate --tour $(TOUR_DIR); \
	fi

bench: build
	@for b in $(BUILD_DIR)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

# Installs the programs, manuals, completion, desktop entry, icons and udev rule under PREFIX (DESTDIR is
# honoured). udev reads rules only from /usr/lib and /etc: with the default PREFIX, copy
# $(PREFIX)/lib/udev/rules.d/70-brennix-adapter.rules to /etc/udev/rules.d/ (or install the package).
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

# The Debian package brennix-debug_<version>_<arch>.deb in $(BUILD_DIR); its dependencies come from the
# binaries (dpkg-shlibdeps). package-check unpacks it into a scratch root, runs the programs from there and
# runs the validators and lintian on it; CI calls it with the ci build, so nothing is compiled twice.
# ARCH=arm64 makes the package for a robot's arm64 computer from the arm64-cross build (client and simulator,
# no desktop tool; the manual pages are written by running the programs under QEMU) and runs lintian on it.
PACKAGE_DEPS := dpkg-dev lintian desktop-file-utils appstream bash-completion man-db xvfb xauth
ARCH ?= $(shell dpkg --print-architecture)
ifeq ($(ARCH),arm64)
package:
	@dpkg --print-foreign-architectures | grep -qx arm64 || [ "$$(dpkg --print-architecture)" = arm64 ] || \
	  { echo "Adding the arm64 architecture"; $(SUDO) dpkg --add-architecture arm64 && $(SUDO) apt-get update -qq; }
	$(MAKE) deps DEPS="$(DEPS) $(ARM64_DEPS) $(PACKAGE_DEPS)"
	cmake --preset arm64-cross \
	  $(if $(CCACHE),-DCMAKE_CXX_COMPILER_LAUNCHER=$(CCACHE) -DCMAKE_C_COMPILER_LAUNCHER=$(CCACHE))
	cmake --build --preset arm64-cross -j$(JOBS)
	rm -f build/arm64-cross/brennix-debug_*.deb
	cd build/arm64-cross && cpack -G DEB
	lintian --fail-on error --display-info build/arm64-cross/brennix-debug_*_arm64.deb
else
package: build
	$(MAKE) deps DEPS="$(PACKAGE_DEPS)"
	rm -f $(BUILD_DIR)/brennix-debug_*.deb
	cd $(BUILD_DIR) && cpack -G DEB
endif

package-check: package
	packaging/check-package.sh $(BUILD_DIR)

# libFuzzer targets, built with clang in their own tree (no GUI, benchmarks or test programs) and each run for
# FUZZ_SECONDS from the seeds in fuzz/corpus/; new inputs, logs and any crash files stay under build/fuzz.
FUZZ_SECONDS ?= 60
FUZZ_DIR := build/fuzz
FUZZ_DEPS := clang libclang-rt-14-dev cmake make g++ pkg-config libserialport-dev libgtest-dev libgmock-dev
FUZZ_TARGETS := fuzz_hex_file fuzz_hex_line fuzz_status_frame fuzz_parameter_file fuzz_sim_requests
.PHONY: fuzz
fuzz:
	$(MAKE) deps DEPS="$(FUZZ_DEPS)"
	cmake -S . -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRENNIX_FUZZ=ON \
	  -DBRENNIX_BUILD_GUI=OFF -DBRENNIX_BUILD_BENCH=OFF
	cmake --build $(FUZZ_DIR) -j$(JOBS) --target $(FUZZ_TARGETS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run.sh $(FUZZ_DIR)

clean:
	rm -rf build

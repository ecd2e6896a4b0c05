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

.PHONY: deps configure build test test-asan test-tsan test-windows test-usb run bench clean install package package-check

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
PACKAGE_DEPS := dpkg-dev lintian desktop-file-utils appstream bash-completion man-db xvfb xauth
package: build
	$(MAKE) deps DEPS="$(PACKAGE_DEPS)"
	rm -f $(BUILD_DIR)/brennix-debug_*.deb
	cd $(BUILD_DIR) && cpack -G DEB

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

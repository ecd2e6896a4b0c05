# Brennix Debug: one-command set-up, build, test and run on Debian 12.
PRESET ?= dev
JOBS ?= $(shell nproc)
BUILD_DIR := build/$(PRESET)

# Debian packages the build, the tests and the simulated GUI run need.
DEPS := cmake make g++ pkg-config qt6-base-dev libgl-dev libserialport-dev libgtest-dev libgmock-dev \
        libbenchmark-dev xvfb xauth fonts-dejavu-core

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps configure build test run bench clean

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

run: build
	$(BUILD_DIR)/app/brennix-debug --simulate

bench: build
	@for b in $(BUILD_DIR)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf build

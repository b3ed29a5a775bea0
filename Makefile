# The two commands a developer needs: `make run` and `make test`.
# Both install whatever Debian packages are missing first, so they work on a fresh Debian 12 machine.

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
PREFIX ?= /usr/local
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

# What building and running the program needs; `make run` installs no more than this.
PACKAGES := build-essential cmake pkg-config qt6-base-dev qt6-serialport-dev \
            libqt6opengl6-dev fonts-liberation fonts-dejavu-core libxcb1-dev qt6-qpa-plugins
# The title written to a Wayland compositor directly.
PACKAGES += qt6-base-private-dev libwayland-dev
# domivox-send talks to the session bus through libdbus directly.
PACKAGES += libdbus-1-dev
# The MQTT client.
PACKAGES += libmosquitto-dev

# What the tests add: the desktops they run the windows on (X with a window manager, and a
# headless Wayland compositor with Qt's Wayland plug-in) and the desktop file checks.
TEST_PACKAGES := desktop-file-utils xvfb openbox wmctrl x11-utils qt6-wayland sway
# The board firmware is built and run in an AVR emulator.
TEST_PACKAGES += gcc-avr avr-libc simavr libsimavr-dev
# The bus tests start a private session bus; the bus benchmark compares with dbus-send.
TEST_PACKAGES += dbus-daemon dbus-bin
# The shell scripts of CI, the benchmarks and the tools are checked by shellcheck.
TEST_PACKAGES += shellcheck
# The MQTT tests run their own broker, talk to it with its command-line clients and make their
# TLS certificates.
TEST_PACKAGES += mosquitto mosquitto-clients openssl

# The program and the tools installed beside it, without the tests.
APP_TARGETS := domivox domivox-port domivox-send domivox-board

.PHONY: all deps test-deps configure build app run test bench soak install clean format

all: build

# Installs whichever of the Debian packages in $(1) are missing: as root directly, otherwise
# through sudo; without sudo it says what to run as root and stops. A name counts as present when
# an installed package is called so or provides it, so a name that a release has turned into a
# virtual one (libqt6opengl6-dev in Debian 13) or renamed behind a Provides (the 64-bit time
# packages) is found without apt, and a second run on a complete system never calls apt-get.
define install_missing
	@have=" $$(dpkg-query -W -f='$${db:Status-Abbrev} $${Package} $${Provides}\n' 2>/dev/null | \
	  awk '$$1 ~ /^.i/ { $$1 = ""; gsub(/\([^)]*\)/, ""); gsub(/:[a-z0-9]+/, ""); gsub(/,/, " "); print }' | \
	  tr -s ' \n' '  ') "; \
	missing=""; \
	for p in $(1); do \
	  case "$$have" in *" $$p "*) ;; *) missing="$$missing $$p";; esac; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then sudo=""; \
	  elif command -v sudo >/dev/null 2>&1; then sudo=sudo; \
	  else \
	    echo "Missing Debian packages:$$missing" >&2; \
	    echo "sudo is not available; run this as root, then run make again:" >&2; \
	    echo "  apt-get update && apt-get install -y --no-install-recommends$$missing" >&2; \
	    exit 1; \
	  fi; \
	  echo "Installing missing packages:$$missing"; \
	  $$sudo apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y -qq --no-install-recommends \
	    -o DPkg::Lock::Timeout=600 $$missing; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

test-deps: deps
	$(call install_missing,$(TEST_PACKAGES))

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

# Everything, tests and benchmarks included.
build: test-deps configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

app: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target $(APP_TARGETS)

run: app
	cd $(BUILD_DIR) && ./domivox

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: build
	cmake --build $(BUILD_DIR) -j $(JOBS) --target benches

# Every window open and busy for SOAK_SECONDS, watched for memory growth, CPU and descriptors.
# SOAK_CPU=report prints the CPU share without judging it (see bench/soak.sh).
SOAK_SECONDS ?= 1800
SOAK_CPU ?= judge
soak: build
	cmake --build $(BUILD_DIR) -j $(JOBS) --target soak
	BUILD_DIR=$(BUILD_DIR) SOAK_CPU=$(SOAK_CPU) bench/soak.sh $(SOAK_SECONDS)

# DESTDIR is honoured: make install DESTDIR=/tmp/stage
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# Building the .deb (dependencies computed from the binaries) and reading its manual pages, which
# the package test does; checking it the way Debian does.
TEST_PACKAGES += dpkg-dev file man-db
# The port tool's tests watch its system calls: listing never opens a device.
TEST_PACKAGES += strace
DEB_CHECK_PACKAGES := lintian appstream

.PHONY: deb deb-check

# build/domivox_<version>_<arch>.deb; install it with `apt-get install ./build/domivox_*.deb`.
deb: build
	cd $(BUILD_DIR) && cpack -G DEB

# What Debian's own tools say about the package and its software-centre data; a lintian error
# or warning fails (the overrides in assets/lintian-overrides say why each one is accepted).
deb-check: deb
	$(call install_missing,$(DEB_CHECK_PACKAGES))
	appstreamcli validate --no-net assets/org.example.domivox.metainfo.xml
	lintian --fail-on error,warning --info $(BUILD_DIR)/domivox_*.deb

clean:
	rm -rf $(BUILD_DIR)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer, in its own
# build folder. Any memory error, leak in our code or undefined behaviour fails the test that hit
# it; leaks owned by system libraries are silenced in tests/sanitizer/lsan.supp. Tests with time
# bounds stretch them by DOMIVOX_TEST_SLOWDOWN, since sanitized code runs slower.
ASAN_BUILD_DIR ?= build-asan
ASAN_ENV := QT_QPA_PLATFORM=offscreen DOMIVOX_TEST_SLOWDOWN=3 \
            ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
            UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
            LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer/lsan.supp:print_suppressions=0

.PHONY: test-asan
test-asan: test-deps
	cmake -S . -B $(ASAN_BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug -DDOMIVOX_SANITIZE=ON
	cmake --build $(ASAN_BUILD_DIR) -j $(JOBS)
	cd $(ASAN_BUILD_DIR) && $(ASAN_ENV) ctest --output-on-failure -j $(JOBS)
# Fuzzing (see docs/fuzzing.md): `make fuzz` builds the libFuzzer targets with clang,
# `make fuzz-ci` runs each for FUZZ_SECONDS and fails on any crash, leak or sanitizer report.
FUZZ_BUILD_DIR ?= build-fuzz
FUZZ_SECONDS ?= 20
FUZZ_TARGETS := rtf title entry settings mqtt
# libFuzzer and the sanitizers' runtime come with the clang release: libclang-rt-14-dev on Debian
# 12, libclang-rt-19-dev on Debian 13; the name is taken from the clang installed first.
FUZZ_RUNTIME = libclang-rt-$$(clang -dumpversion | cut -d. -f1)-dev
FUZZ_LAUNCHER := $(if $(shell command -v ccache 2>/dev/null),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: fuzz-deps fuzz fuzz-ci

fuzz-deps: test-deps
	$(call install_missing,clang)
	$(call install_missing,$(FUZZ_RUNTIME))

fuzz: fuzz-deps
	cmake -S fuzz -B $(FUZZ_BUILD_DIR) -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo $(FUZZ_LAUNCHER)
	cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS)

# Each target starts from its seeds in fuzz/corpus/<target>; what it finds goes to
# $(FUZZ_BUILD_DIR)/ci/<target>, and a failing input is left there as crash-*, leak-* or timeout-*.
fuzz-ci: fuzz
	@failed=""; \
	for t in $(FUZZ_TARGETS); do \
	  case $$t in rtf) len=1024;; title) len=2048;; entry) len=64;; *) len=512;; esac; \
	  dict=""; [ -f fuzz/$$t.dict ] && dict="-dict=fuzz/$$t.dict"; \
	  mkdir -p $(FUZZ_BUILD_DIR)/ci/$$t; \
	  echo "== $$t: $(FUZZ_SECONDS) s"; \
	  QT_QPA_PLATFORM=offscreen LSAN_OPTIONS=suppressions=$(CURDIR)/fuzz/lsan.supp \
	    $(FUZZ_BUILD_DIR)/$${t}_fuzzer -max_total_time=$(FUZZ_SECONDS) -timeout=25 \
	    -max_len=$$len $$dict -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_BUILD_DIR)/ci/$$t- $(FUZZ_BUILD_DIR)/ci/$$t fuzz/corpus/$$t \
	    > $(FUZZ_BUILD_DIR)/ci/$$t.log 2>&1 || failed="$$failed $$t"; \
	  grep -E '^Done|stat::number_of_executed_units' $(FUZZ_BUILD_DIR)/ci/$$t.log || true; \
	done; \
	if [ -n "$$failed" ]; then \
	  for t in $$failed; do echo "== $$t failed:"; tail -n 60 $(FUZZ_BUILD_DIR)/ci/$$t.log; done; \
	  echo "Fuzzing found faults in:$$failed"; exit 1; \
	fi; \
	echo "Fuzzing: no crash, leak or sanitizer report"

# The board firmware (see docs/board.md): $(BUILD_DIR)/firmware/domivox-board.hex and .elf.
# Options: make firmware ACTIVE_LOW=0 RESTORE=1 STATUS_LED=0 (firmware/domivox-board.c says what
# each does). `make flash PORT=/dev/ttyUSB0` puts it on an Uno or Nano through its bootloader;
# BOARD=uno or nano (115200 baud) or nano-old (the older Nano bootloader, 57600 baud); without
# BOARD both are tried.
FIRMWARE_PACKAGES := gcc-avr avr-libc
FIRMWARE_DIR := $(abspath $(BUILD_DIR))/firmware
FIRMWARE_OPTIONS := $(foreach o,ACTIVE_LOW RESTORE STATUS_LED,$(if $(filter command line,$(origin $(o))),$(o)=$($(o))))
BOARD ?=

.PHONY: firmware flash
firmware:
	$(call install_missing,$(FIRMWARE_PACKAGES))
	$(MAKE) -C firmware OUT=$(FIRMWARE_DIR) $(FIRMWARE_OPTIONS)

flash: firmware
	$(call install_missing,avrdude)
	@if [ -z "$(PORT)" ]; then \
	  echo "Name the board's serial device: make flash PORT=/dev/ttyUSB0 [BOARD=uno|nano|nano-old]" >&2; \
	  exit 1; \
	fi
	@case "$(BOARD)" in \
	  uno|nano) rates=115200;; \
	  nano-old) rates=57600;; \
	  "") rates="115200 57600";; \
	  *) echo "BOARD is uno, nano or nano-old, not $(BOARD)" >&2; exit 1;; \
	esac; \
	for rate in $$rates; do \
	  echo "Flashing $(FIRMWARE_DIR)/domivox-board.hex to $(PORT) at $$rate baud"; \
	  if avrdude -p atmega328p -c arduino -P "$(PORT)" -b $$rate -D \
	       -U flash:w:$(FIRMWARE_DIR)/domivox-board.hex:i; then exit 0; fi; \
	done; \
	echo "The bootloader did not answer. Check PORT, and that nothing else (the panel, a serial" >&2; \
	echo "terminal) has the port open; a board with a capacitor against auto-reset needs its" >&2; \
	echo "RESET button pressed just as avrdude starts (see docs/board.md)." >&2; \
	exit 1

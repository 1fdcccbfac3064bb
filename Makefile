BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench tsan format clean

all: build

deps:
	bash scripts/install-deps.sh

configure:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: deps build
	$(BUILD_DIR)/bin/bramble

test: deps build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

bench: deps build
	bash scripts/run-benchmarks.sh $(BUILD_DIR)

# The analytics client's suites under ThreadSanitizer, in a build folder of their own. Qt is not
# built with the sanitizer: accesses made inside its libraries are not judged, and
# tests/cairn/tsan.supp names the few frames of Qt, GLib and glibc left; Cairn's own code is
# checked in full. Any report fails the run (exit 66).
TSAN_BUILD_DIR ?= build-tsan
TSAN_SUITES = record transport durability session extras
tsan: deps
	cmake -S . -B $(TSAN_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
	  -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
	cmake --build $(TSAN_BUILD_DIR) -j $(JOBS) --target $(addprefix tst_cairn_,$(TSAN_SUITES))
	TSAN_OPTIONS="die_after_fork=0 ignore_noninstrumented_modules=1 suppressions=$(CURDIR)/tests/cairn/tsan.supp" \
	  ctest --test-dir $(TSAN_BUILD_DIR) --output-on-failure -j $(JOBS) \
	  -R '^tst_cairn_($(shell echo $(TSAN_SUITES) | tr ' ' '|'))$$'

# ---- install, packages and AddressSanitizer ---------------------------------------------
# `make install PREFIX=/usr/local` (DESTDIR is honoured) installs the program, its desktop
# entry, metainfo and icons. `make package` builds from a fresh build folder the Debian
# package and the portable archive into $(PACKAGE_DIR); with SIGNING_KEY=file (an Ed25519
# secret key from `bramble-sign-update generate-keys`) the portable build checks updates
# against that key's public half at FEED_URL, and the archive's signed feed entry is written
# beside it. See docs/releasing.md.
PREFIX ?= /usr/local
PACKAGE_BUILD_DIR ?= build-package
PACKAGE_DIR ?= dist
SIGNING_KEY ?=
FEED_URL ?=
PACKAGE_CONFIGURE = -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DBRAMBLE_BUILD_BENCHMARKS=OFF
PACKAGE_TARGETS = --target bramble bramble-sign-update bramble-icons

.PHONY: install package asan
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

package: deps
	rm -rf $(PACKAGE_BUILD_DIR) $(PACKAGE_BUILD_DIR)-portable
	cmake -S . -B $(PACKAGE_BUILD_DIR) $(PACKAGE_CONFIGURE)
	cmake --build $(PACKAGE_BUILD_DIR) -j $(JOBS) $(PACKAGE_TARGETS)
	cpack --config $(PACKAGE_BUILD_DIR)/CPackConfig.cmake -B $(abspath $(PACKAGE_DIR))
	rm -rf $(PACKAGE_DIR)/_CPack_Packages
ifeq ($(SIGNING_KEY),)
	bash scripts/make-portable.sh $(PACKAGE_BUILD_DIR) $(PACKAGE_DIR)
else
	$(if $(FEED_URL),,$(error SIGNING_KEY needs FEED_URL, the feed address the signed release checks))
	cmake -S . -B $(PACKAGE_BUILD_DIR)-portable $(PACKAGE_CONFIGURE) -DBRAMBLE_UPDATE_FEED_URL=$(FEED_URL) \
	  -DBRAMBLE_UPDATE_PUBLIC_KEY=$$($(PACKAGE_BUILD_DIR)/bin/bramble-sign-update public-key --secret-key-file $(SIGNING_KEY))
	cmake --build $(PACKAGE_BUILD_DIR)-portable -j $(JOBS) $(PACKAGE_TARGETS)
	bash scripts/make-portable.sh $(PACKAGE_BUILD_DIR)-portable $(PACKAGE_DIR) $(SIGNING_KEY)
endif

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer in a build folder of
# its own, without the benchmarks. Qt is not built with the sanitizers: tests/asan/lsan.supp
# is for leaks inside Qt and the system libraries (none is listed today). Any report fails.
ASAN_BUILD_DIR ?= build-asan
ASAN_FLAGS = -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
# Two suites preload a small probe library into the program they start (the network watch, the
# signing tool's file-mode probe); the sanitizer runtime then is not first, which is harmless.
ASAN_ENV = ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:verify_asan_link_order=0" \
  LSAN_OPTIONS="suppressions=$(CURDIR)/tests/asan/lsan.supp:print_suppressions=0" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
asan: deps
	cmake -S . -B $(ASAN_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRAMBLE_BUILD_BENCHMARKS=OFF \
	  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g -DNDEBUG" \
	  -DCMAKE_CXX_FLAGS="$(ASAN_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(ASAN_FLAGS)" \
	  -DCMAKE_SHARED_LINKER_FLAGS="$(ASAN_FLAGS)"
	env $(ASAN_ENV) cmake --build $(ASAN_BUILD_DIR) -j $(JOBS)
	env $(ASAN_ENV) ctest --test-dir $(ASAN_BUILD_DIR) --output-on-failure -j $(JOBS)
# ---- end of install, packages and AddressSanitizer --------------------------------------

# libFuzzer targets (fuzz/) for the readers of outside data, built by clang with ASan and
# UBSan in a build folder of their own, each run for FUZZ_SECONDS from its seed corpus in
# fuzz/corpus/. Findings land in $(FUZZ_BUILD_DIR)/fuzz-findings/ and fail the run. Assertions
# stay on; warnings are judged by the ordinary gcc build, not here.
FUZZ_BUILD_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = export_file appcast page_head page_description signal_cache \
  bookmark_file netscape_bookmarks chromium_bookmarks firefox_backup
.PHONY: fuzz
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++-14 -DBRAMBLE_BUILD_FUZZERS=ON -DBUILD_TESTING=OFF \
	  -DBRAMBLE_BUILD_BENCHMARKS=OFF -DBRAMBLE_WERROR=OFF -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g"
	cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS) --target fuzzers
	bash scripts/run-fuzzers.sh $(FUZZ_BUILD_DIR) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR)

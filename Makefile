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

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR)

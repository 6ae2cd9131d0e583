SHELL := /bin/bash
# Thin wrapper over CMake. The two commands of a fresh machine:
#   make demo   build the library, the simulated module and the CLI (no GoogleTest
#               needed) and run `tavirex demo` against the simulated module
#   make test   build and run the whole test suite, one ctest test per GoogleTest case
#               (JOBS at a time, default: the number of cores),
#               and end with the counts and the names of the failed and skipped tests
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all build test test32 demo asan clang fuzz win32 win32-check win32-dist install-check win64-test bench clean

all: build

# The configure step runs on every build: about a second when nothing changed, and
# it finds what was installed since the first build (DCMTK: then the demo and the
# CLI write DICOM files).
$(BUILD)/CMakeCache.txt: FORCE
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
FORCE:

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && mkdir -p Testing && ctest -j $(JOBS) --output-on-failure --no-tests=error 2>&1 | tee Testing/ctest-output.txt; \
	  status=$${PIPESTATUS[0]}; \
	  $(CURDIR)/tools/test-summary.sh Testing/ctest-output.txt Testing/Temporary/LastTest.log || status=1; exit $$status

demo: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target tavirex tvxsim tavirex_cli
	$(BUILD)/bin/tavirex demo --out out

# The suite under AddressSanitizer and UndefinedBehaviorSanitizer.
asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DTAVIREX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"

# The suite as a 32-bit Linux program: the word size and the SSE2 arithmetic of
# the 32-bit Windows DLL (Debian's g++-multilib).
test32:
	$(MAKE) test BUILD=build-32 CMAKE_FLAGS="-DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake"

# The library, the simulated module and the CLI built with clang, warnings as errors.
clang:
	CC=clang CXX=clang++ cmake -S . -B build-clang -DTAVIREX_TESTS=OFF
	cmake --build build-clang -j $(JOBS)

# libFuzzer targets for the file readers (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer), each run for FUZZ_SECONDS on its seeds in
# fuzz/corpus/; prints the executions per target and fails on any finding.
FUZZ_SECONDS ?= 60
fuzz:
	CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz
	cmake --build build-fuzz -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) tools/run-fuzz.sh build-fuzz

# Production target: 32-bit Windows DLL, cross-built with MinGW-w64.
win32:
	cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DTAVIREX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
	cmake --build build-win32 -j $(JOBS) --target tavirex

win32-check: win32
	tools/check-exports.sh build-win32/bin/Tavirex.dll

# The Windows zip (build-win32/dist/): Tavirex.dll, the import library Tavirex.lib
# for Microsoft's tools, headers, README, change log and the example host's source;
# then the example host linked against the zip's Tavirex.lib, importing all 43 names.
win32-dist: win32-check
	tools/make-win32-dist.sh build-win32
	tools/check-win32-dist.sh build-win32/dist/Tavirex-*-win32.zip

# Install into a temporary prefix, run the installed demo in an unrelated folder,
# build the example host against the installed package and run it.
install-check: build
	tools/check-install.sh $(BUILD)

# The suite as Windows programs under Wine (64-bit MinGW-w64 build).
win64-test:
	tools/run-windows-tests.sh

bench:
	cmake -S . -B build-bench -DTAVIREX_BENCH=ON -DTAVIREX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS)
	for b in build-bench/bin/bench_*; do $$b; done

clean:
	rm -rf build build-32 build-asan build-clang build-win32 build-win64 build-bench build-fuzz

SHELL := /bin/bash
# Thin wrapper over CMake. The two commands of a fresh machine:
#   make demo   build the library, the simulated module and the CLI (no GoogleTest
#               needed) and run `tavirex demo` against the simulated module
#   make test   build and run the whole test suite, one ctest test per GoogleTest case
#               (JOBS at a time, default: the number of cores),
#               and end with the counts and the names of the failed and skipped tests
# The other targets are described where they are defined. Variables: BUILD (the
# build folder of make build/test), JOBS, CMAKE_FLAGS, TEST32_QEMU=1 (make test32
# under qemu-i386 also where the kernel runs 32-bit programs), FUZZ_SECONDS.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all build test test32 demo asan tsan clang fuzz win32 win32-check win32-dist install-check win64-test win32-test bench clean

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

# The tests of the calls that use worker threads (processing, bitmaps, the
# allocation sweeps) under ThreadSanitizer, three workers each (TAVIREX_THREADS=3:
# an uneven split on any machine).
TSAN_TESTS = ^(Block|Correction|Geometry|Pipeline|Output|OutputEnhance|Finishing|TomoCorrection|TomoPipeline|TomoCycle|Workers)Test\.|CycleTest\.
tsan:
	cmake -S . -B build-tsan -DTAVIREX_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TAVIREX_THREADS=3 TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest -j $(JOBS) --output-on-failure --no-tests=error -R '$(TSAN_TESTS)'

# The suite as a 32-bit Linux program: the word size and the SSE2 arithmetic of
# the 32-bit Windows DLL (Debian's g++-multilib). The programs run directly where
# the kernel runs 32-bit programs and under qemu-i386 (Debian's qemu-user) where
# it cannot; TEST32_QEMU=1 runs them under qemu-i386 anyway. The first line says which.
TEST32_QEMU ?=
test32:
	@if [ -n "$(filter-out 0,$(TEST32_QEMU))" ]; then qemu=ON; echo "== test32: the 32-bit programs run under qemu-i386 (TEST32_QEMU=$(TEST32_QEMU))"; \
	elif tools/runs-32bit.sh; then qemu=OFF; echo "== test32: the 32-bit programs run directly (the kernel runs 32-bit programs)"; \
	else qemu=ON; echo "== test32: the 32-bit programs run under qemu-i386 (this kernel cannot run 32-bit programs)"; fi; \
	cmake --no-warn-unused-cli -S . -B build-32 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake -DTAVIREX_QEMU_I386=$$qemu >/dev/null
	$(MAKE) test BUILD=build-32

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

# The suite as Windows programs under Wine (64-bit MinGW-w64 build, the 64-bit
# Wine loader named explicitly, so it runs with wine32 installed too).
win64-test:
	tools/run-windows-tests.sh 64

# The suite as 32-bit Windows programs (MinGW-w64 i686, the 32-bit Tavirex.dll and
# its arithmetic) under 32-bit Wine (Debian's wine32), in build-win32-test. It needs
# a kernel that runs 32-bit programs (32-bit Wine does not run under qemu-i386):
# elsewhere it builds the suite and then fails, saying so. The last line counts the tests.
win32-test:
	tools/run-windows-tests.sh 32

bench:
	cmake -S . -B build-bench -DTAVIREX_BENCH=ON -DTAVIREX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS)
	for b in build-bench/bin/bench_*; do $$b; done

clean:
	rm -rf build build-32 build-asan build-tsan build-clang build-win32 build-win32-test build-win64 build-bench build-fuzz

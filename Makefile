# The two commands: `make demo` and `make test`. Each installs what the
# machine lacks first (tools/bootstrap.sh).
SHELL := /bin/bash
export WINEDEBUG := -all

NATIVE_PRESETS := linux linux-asan linux-tsan
WINDOWS_PRESETS := win32 win64

.PHONY: all setup wine-ready test lint demo demo-win32 bench bench-win32 clean \
        $(addprefix test-,$(NATIVE_PRESETS) $(WINDOWS_PRESETS))

all: build-linux

setup:
	@tools/bootstrap.sh

wine-ready: setup
	@tools/wine-ready.sh

# Not phony: make skips pattern rules for phony targets. FORCE runs it always.
build-%: setup FORCE
	@cmake --preset $* >/dev/null
	@cmake --build --preset $*

FORCE:

$(addprefix test-,$(NATIVE_PRESETS)): test-%: build-%
	ctest --preset $*

$(addprefix test-,$(WINDOWS_PRESETS)): test-%: build-% wine-ready
	ctest --preset $*

# Every preset this machine can run: native, both sanitizers, and the real
# DLLs under Wine; then the fuzzer for a few seconds and the lint.
test: $(addprefix test-,$(NATIVE_PRESETS) $(WINDOWS_PRESETS)) test-fuzz lint

# Format and clang-tidy findings on the project's own code (tools/lint.sh).
lint: setup
	@tools/lint.sh

# Builds only the host and the module it loads, then plays the demo script.
demo: setup
	@cmake --preset linux >/dev/null
	@cmake --build --preset linux --target kolvane-host
	@cd build/linux && bin/kolvane-host --timeline demo-timeline.svg ../../host/examples/demo.remote

demo-win32: wine-ready
	@cmake --preset win32 >/dev/null
	@cmake --build --preset win32 --target kolvane-host
	@cd build/win32 && wine bin/kolvane-host.exe --timeline demo-timeline.svg ../../host/examples/demo.remote

clean:
	rm -rf build dist

# Release archives in dist/, one per preset: kolvane-<version>-win32.zip,
# -win64.zip and -linux-x86_64.tar.gz. The version is the project's
# (CMakeLists.txt); each build names its own archive.
DIST_PRESETS := win32 win64 linux

.PHONY: dist

dist: $(addprefix dist-,$(DIST_PRESETS))

dist-%: setup FORCE
	@cmake --preset $* >/dev/null
	@cmake --build --preset $* --target dist

# The key decoder against its model under libFuzzer (clang only, so outside
# the presets): `make fuzz` for FUZZ_SECONDS, a few seconds of it in `make test`.
FUZZ_SECONDS ?= 60
FUZZ_TEST_SECONDS ?= 5

.PHONY: fuzz test-fuzz

fuzz:
	fuzz/run.sh $(FUZZ_SECONDS)

test-fuzz:
	fuzz/run.sh $(FUZZ_TEST_SECONDS)

# Benchmarks: the native figures, and the real DLL under Wine (indicative:
# Wine's timers and process clocks are coarser). Builds only the benchmark
# and the module it loads, switching the benchmark on in a build folder
# configured without it. BENCH_ARGS=--quick or --json is passed through; the
# module's log lands in the build folder.
bench: setup
	@cmake --preset linux -DKOLVANE_BUILD_BENCH=ON >/dev/null
	@cmake --build --preset linux --target kolvane-bench
	@cd build/linux && bin/kolvane-bench $(BENCH_ARGS)

bench-win32: wine-ready
	@cmake --preset win32 -DKOLVANE_BUILD_BENCH=ON >/dev/null
	@cmake --build --preset win32 --target kolvane-bench
	@cd build/win32 && wine bin/kolvane-bench.exe $(BENCH_ARGS)

# The two commands: `make demo` and `make test`. Each installs what its
# goals need and the machine lacks first, and nothing more (tools/bootstrap.sh).
SHELL := /bin/bash
export WINEDEBUG := -all

NATIVE_PRESETS := linux linux-asan linux-tsan
WINDOWS_PRESETS := win32 win64

.PHONY: all setup wine-ready test test-setup test-layers test-no32bit lint demo demo-win32 demo-win64 bench bench-win32 bench-win64 \
        clean $(addprefix test-,$(NATIVE_PRESETS) $(WINDOWS_PRESETS))

# Whether this machine executes 32-bit x86 programs: "yes", "emulated"
# (user-mode emulation, tools/i386-emulation.sh) or "no: why"
# (tools/x86-check.sh; emulation only with KOLVANE_EMULATE_32BIT=1, which
# also forces it where it would be "yes"; KOLVANE_NO_32BIT=1 makes it "no",
# and wins). Asked once per run,
# when a Windows target first needs it, after setup has installed Wine; every
# tool the target starts gets the answer through KOLVANE_X86_RUNS.
X86_RUNS = $(eval X86_RUNS := $$(shell tools/x86-check.sh))$(X86_RUNS)
WINE_ENV = KOLVANE_X86_RUNS='$(X86_RUNS)'

# Stops a target that must run a 32-bit program where none can run.
define require_x86
@if [ "$(X86_RUNS)" != yes ] && [ "$(X86_RUNS)" != emulated ]; then \
	  echo "$@: the win32 build's programs cannot run on this machine: $(filter-out no:,$(X86_RUNS))." >&2; \
	  echo "$@: run 'make $(subst win32,win64,$@)' for the same with the x64 build." >&2; exit 1; fi
endef

all: build-linux

# What the goals of this run need installed (tools/bootstrap.sh): the Linux
# build always; mingw-w64 and Wine for the Windows builds; wine32:i386 where a
# goal runs the win32 build's programs; the lint and fuzz tools for those.
goal_needs = native \
  $(if $(filter test test-win32 test-win64 test-no32bit demo-win% bench-win% dist dist-win% build-win%,$(1)),windows) \
  $(if $(filter test test-win32 demo-win32 bench-win32,$(1)),wine32) \
  $(if $(filter test lint,$(1)),lint) \
  $(if $(filter test fuzz test-fuzz,$(1)),fuzz)
SETUP_NEEDS = $(sort $(call goal_needs,$(or $(MAKECMDGOALS),all)))

setup:
	@tools/bootstrap.sh $(SETUP_NEEDS)

wine-ready: setup
	@$(WINE_ENV) tools/wine-ready.sh

# Not phony: make skips pattern rules for phony targets. FORCE runs it always.
build-%: setup FORCE
	@cmake --preset $* >/dev/null
	@cmake --build --preset $*

FORCE:

$(addprefix test-,$(NATIVE_PRESETS)): test-%: build-%
	ctest --preset $*

# Under Wine; where 32-bit programs cannot run, win32 runs its static checks
# only and says so (tools/test-windows.sh).
$(addprefix test-,$(WINDOWS_PRESETS)): test-%: build-%
	@$(WINE_ENV) tools/test-windows.sh $*

# Setup against stand-ins for apt and dpkg: installs nothing.
test-setup:
	@tests/setup/run.sh

# The layer check catches an include, a link or a source that reaches up.
test-layers:
	@tests/layers/run.sh

# The path of a machine without 32-bit execution, taken on any machine.
test-no32bit: build-win32
	@tests/no32bit/run.sh

# Every preset: native, both sanitizers, and the real DLLs under Wine (win32
# only where this machine can execute it); then the fuzzer for a few seconds
# and the lint. The line naming what was not run is repeated at the end.
test: test-setup test-layers $(addprefix test-,$(NATIVE_PRESETS) $(WINDOWS_PRESETS)) test-no32bit test-fuzz lint
	@$(WINE_ENV) tools/not-run.sh win32

# Includes, links and sources that reach outside their layer, format and clang-tidy findings on the project's own code (tools/lint.sh).
lint: setup
	@tools/lint.sh

# Builds only the host and the module it loads, then plays the demo script.
demo: setup
	@cmake --preset linux >/dev/null
	@cmake --build --preset linux --target kolvane-host
	@cd build/linux && bin/kolvane-host --timeline demo-timeline.svg ../../host/examples/demo.remote

# Runs a program of build/$* under Wine, in that folder. A win32 program run
# in the i386 root or under emulation then stops that Wine, so nothing of
# the run stays mounted or registered (tools/i386-root.sh, i386-emulation.sh).
wine_program = cd build/$* && status=0 && $(WINE_ENV) ../../tools/wine-run.sh $(1) || status=$$?; \
  $(if $(filter win32,$*),$(WINE_ENV) $(CURDIR)/tools/i386-root.sh stop; $(WINE_ENV) $(CURDIR)/tools/i386-emulation.sh stop;) exit $$status

# Says where the win32 build's figures come from under emulation.
define emulation_note
@if [ "$(X86_RUNS)" = emulated ]; then \
	  echo "$@: these figures come from the x86 DLL under user-mode emulation (qemu-i386): its CPU figures are the emulator's and its times carry the emulator's delays, not the DLL's own; 'make bench-win64' or a machine that executes 32-bit programs gives the DLL's."; fi
endef

# The same with kolvane-host.exe and the real kolvane.dll under Wine.
demo-win32 demo-win64: demo-%: setup
	$(if $(filter win32,$*),$(require_x86))
	$(if $(filter win32,$*),@$(WINE_ENV) tools/x86-check.sh --path)
	@$(WINE_ENV) tools/wine-ready.sh $*
	@cmake --preset $* >/dev/null
	@cmake --build --preset $* --target kolvane-host
	@$(call wine_program,bin/kolvane-host.exe --timeline demo-timeline.svg ../../host/examples/demo.remote)

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

fuzz: setup
	fuzz/run.sh $(FUZZ_SECONDS)

test-fuzz: setup
	fuzz/run.sh $(FUZZ_TEST_SECONDS)

# Benchmarks: the native figures, and the real DLL under Wine (indicative:
# Wine's timers and process clocks are coarser). Builds only the benchmark
# and the module it loads; the benchmark is on by default, and switched on
# again here for a build folder configured with it off. BENCH_ARGS=--quick
# or --json is passed through; the module's log lands in the build folder.
bench: setup
	@cmake --preset linux -DKOLVANE_BUILD_BENCH=ON >/dev/null
	@cmake --build --preset linux --target kolvane-bench
	@cd build/linux && bin/kolvane-bench $(BENCH_ARGS)

bench-win32 bench-win64: bench-%: setup
	$(if $(filter win32,$*),$(require_x86))
	@$(WINE_ENV) tools/wine-ready.sh $*
	@cmake --preset $* -DKOLVANE_BUILD_BENCH=ON >/dev/null
	@cmake --build --preset $* --target kolvane-bench
	$(if $(filter win32,$*),@$(WINE_ENV) tools/x86-check.sh --path)
	$(if $(filter win32,$*),$(emulation_note))
	@$(call wine_program,bin/kolvane-bench.exe $(BENCH_ARGS))
	$(if $(filter win32,$*),$(emulation_note))

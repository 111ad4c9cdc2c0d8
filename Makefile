# The front door: `make demo` shows the module at work, `make test` checks the
# format, runs clang-tidy on the module and every test in a normal, a
# sanitizer and a clang build.
.PHONY: fuzz test-fuzz build-fuzz bench all deps build build-asan build-clang test test-default \
	test-asan test-clang check-format tidy demo format clean windows test-windows

# The module's own sources, the ones clang-tidy reads (the Linux build's:
# the Windows backend is checked by the mingw-w64 builds' warnings).
MODULE_SOURCES = $(filter-out platform/win32/%,$(shell git ls-files 'platform/*.cpp' \
	'hostlog/*.cpp' 'serial/*.cpp' 'protocols/*.cpp' 'vendor/*.cpp' 'controller/*.cpp' \
	'plugin/*.cpp'))

all: build

deps:
	@scripts/deps.sh

build: deps
	cmake --preset default >/dev/null
	cmake --build --preset default

build-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan

build-clang: deps
	cmake --preset clang >/dev/null
	cmake --build --preset clang

test-default: build
	ctest --preset default

test-asan: build-asan
	ctest --preset asan

test-clang: build-clang
	ctest --preset clang

check-format: deps
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.h' '*.c')

# Reads the compile commands of the clang build.
tidy: build-clang
	clang-tidy --quiet -p build/clang $(MODULE_SOURCES)

build-fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz

# A short burst of each fuzz target (CTest in the fuzz build).
test-fuzz: build-fuzz
	ctest --preset fuzz

# A million inputs per target under ASan and UBSan.
fuzz: build-fuzz
	for name in decoder tac net; do \
	  mkdir -p build/fuzz/tests/fuzz/corpus/$$name; \
	  build/fuzz/bin/$${name}_fuzz -runs=1000000 -max_len=256 -print_final_stats=1 \
	    build/fuzz/tests/fuzz/corpus/$$name tests/fuzz/corpus/$$name || exit 1; \
	done

# vorne.dll for 32-bit and 64-bit Windows with mingw-w64, in build/win32/bin
# and build/win64/bin. Needs the Windows packages of scripts/deps.sh.
windows: deps
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 --target windows
	cmake --preset win64 >/dev/null
	cmake --build --preset win64 --target windows

# The Windows suites under wine, for both DLLs. The end-to-end test drives
# the Linux build's vorne-camsim. Parts that cannot run on this machine are
# named with the reason ("not run: ...") and do not fail the step.
test-windows: build
	@scripts/test-windows.sh

# One step after another, each timed; the first step that fails ends the run
# with its exit code. The times are repeated at the end, where CI logs show them.
TEST_STEPS = check-format tidy test-default test-asan test-clang test-fuzz test-windows
test:
	@times=""; \
	for step in $(TEST_STEPS); do \
	  start=$$(date +%s); rc=0; \
	  $(MAKE) --no-print-directory $$step || rc=$$?; \
	  line="step $$step: $$(( $$(date +%s) - start )) s"; \
	  [ $$rc -eq 0 ] || line="$$line, failed with exit code $$rc"; \
	  echo "$$line"; times="$$times$$line\n"; \
	  if [ $$rc -ne 0 ]; then printf "%b" "$$times"; exit $$rc; fi; \
	done; \
	printf "%b" "$$times"

# The ratio table (module against raw C, interleaved in one run), the soak,
# 64 cameras behind one ser2net (raw, then RFC 2217 accepters, 10,000 commands
# round robin each)
# with a frame over raw TCP against plain C,
# then the Google Benchmark micro-benchmarks; with strace present, the system
# calls of 1000 frames each way.
bench: build
	build/default/bin/vorne_ratios
	build/default/bin/vorne_ratios --soak
	@if command -v ser2net >/dev/null || [ -x /usr/sbin/ser2net ]; then \
	  build/default/bin/vorne_ratios --net && build/default/bin/vorne_ratios --net rfc2217; \
	else \
	  echo "ser2net is not installed: skipping the 64-camera device-server run (make deps)"; \
	fi
	@if command -v strace >/dev/null; then \
	  for what in raw PELCO_D; do \
	    strace -f -c -o build/strace-$$what.txt build/default/bin/vorne_ratios --frames 1000 --what $$what; \
	    echo "system calls of 1000 frames, $$what (the pty reader thread's poll and read included):"; \
	    grep -E ' (openat|close|flock|ioctl|write|total)$$' build/strace-$$what.txt; \
	  done; \
	fi
	build/default/bin/vorne_bench --benchmark_min_time=0.05

demo: build
	build/default/bin/vornectl demo --all --compact

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf build

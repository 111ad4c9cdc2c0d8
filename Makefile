# The front door: `make demo` shows the module at work, `make test` runs every
# test in a normal and in a sanitizer build.
.PHONY: all deps build build-asan test test-default test-asan demo format clean

all: build

deps:
	@scripts/deps.sh

build: deps
	cmake --preset default >/dev/null
	cmake --build --preset default

build-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan

test-default: build
	ctest --preset default

test-asan: build-asan
	ctest --preset asan

test: test-default test-asan

demo: build
	build/default/bin/vornectl demo --all --compact

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build

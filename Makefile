# The two commands: `make demo` and `make test`. Both install what they need first.
SHELL := /bin/bash
# win64 before win32: the shipped 32-bit installer also carries the win64 build's 64-bit servers.
PRESETS := native win64 win32
CTEST_JOBS ?= 2

.PHONY: all setup build test test-native test-win32 test-win64 demo bench screenshots format clean

all: build

setup:
	@tools/setup-deps.sh

build: setup
	@for p in $(PRESETS); do \
	  [ -f build/$$p/build.ninja ] || cmake --preset $$p || exit 1; \
	  cmake --build --preset $$p || exit 1; \
	done

build-%: setup
	@[ -f build/$*/build.ninja ] || cmake --preset $*
	@cmake --build --preset $*

# The Wine tests run one at a time, in one Wine session whose desktop stays open for the whole
# run (tools/with-wine.sh); a failed test is a failure.
test: build
	ctest --preset native -j$(CTEST_JOBS)
	ctest --preset win32
	tools/with-wine.sh ctest --preset win64

demo: build-win64
	tools/demo.sh

# Pictures of every dialog of the PIN pad library, in build/screenshots/.
screenshots: build-win64
	tools/screenshots.sh

bench: build-native-release build-win64
	tools/bench.sh

format:
	@git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format -i

clean:
	rm -rf build

# The two commands a newcomer needs: `make demo` and `make check`.
BUILD    ?= build
ASAN     ?= build-asan
FUZZ     ?= build-fuzz
WIN      ?= build-windows
WINDOWS_TESTS ?= -DQLM_BUILD_TESTS=OFF
FUZZ_SECONDS ?= 600
JOBS     ?= $(shell nproc)
PREFIX   ?= /usr/local
CMAKE_FLAGS ?=

.PHONY: all deps build check sanitize fuzz fuzz-build demo demo-cluster install clean bench windows windows-check

all: build

deps:
	@tools/deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS) >/dev/null

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

check: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

sanitize: deps
	cmake -S . -B $(ASAN) -DQLM_SANITIZE=ON -DQLM_BUILD_BENCH=OFF >/dev/null
	cmake --build $(ASAN) -j $(JOBS)
	cd $(ASAN) && ctest --output-on-failure -j $(JOBS)

# libFuzzer targets, built by clang with the sanitizers in a build directory of their
# own; each runs FUZZ_SECONDS (FUZZ_TARGETS: a subset of request reader frame).
fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -DQLM_FUZZ=ON -DQLM_BUILD_TESTS=OFF -DQLM_BUILD_BENCH=OFF >/dev/null
	cmake --build $(FUZZ) -j $(JOBS) --target qlm_fuzz_request qlm_fuzz_reader qlm_fuzz_frame qlm_fuzz_seeds

fuzz: fuzz-build
	tools/fuzz.sh $(FUZZ) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

demo: build
	@tools/demo.sh $(BUILD)

# Two installations sharing one PostgreSQL database in a throwaway cluster.
demo-cluster: build
	@tools/demo-cluster.sh $(BUILD)

# The Windows build (docs/windows.md): qlmc32.dll, qlmrqmgr.exe and the sample,
# cross-built by mingw-w64; windows-check runs its tests under Wine.
windows:
	@tools/deps.sh windows
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DQLM_BUILD_BENCH=ON $(WINDOWS_TESTS) >/dev/null
	cmake --build $(WIN) -j $(JOBS)

windows-check: WINDOWS_TESTS = -DQLM_BUILD_TESTS=ON
windows-check: windows
	tools/windows-check.sh $(WIN) $(BUILD)

bench: build
	$(BUILD)/bench/qlm_bench

install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZ) $(WIN)

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
# What an installation needs (the library, the server, qlm, the man pages), and the demo.
RUNTIME_TARGETS = qlmc32 qlmc32_static qlmrqmgr qlm qlm_man
DEMO_TARGETS    = qlmrqmgr qlm qlm_daybook

.PHONY: all deps deps-build configure build check sanitize fuzz fuzz-build demo demo-cluster install clean bench windows windows-check

all: build

# The packages to build and test (deps), or only to build (deps-build).
deps:
	@tools/deps.sh check

deps-build:
	@tools/deps.sh build

$(BUILD)/CMakeCache.txt:
	@cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS) >/dev/null

configure: deps-build $(BUILD)/CMakeCache.txt

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

check: build
	cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)

sanitize: deps
	cmake -S . -B $(ASAN) -DQLM_SANITIZE=ON -DQLM_BUILD_BENCH=OFF >/dev/null
	cmake --build $(ASAN) -j $(JOBS)
	cd $(ASAN) && ctest --output-on-failure --no-tests=error -j $(JOBS)

# libFuzzer targets, built by clang with the sanitizers in a build directory of their
# own; each runs FUZZ_SECONDS (FUZZ_TARGETS: a subset of request reader frame).
fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -DQLM_FUZZ=ON -DQLM_BUILD_TESTS=OFF -DQLM_BUILD_BENCH=OFF >/dev/null
	cmake --build $(FUZZ) -j $(JOBS) --target qlm_fuzz_request qlm_fuzz_reader qlm_fuzz_frame qlm_fuzz_seeds

fuzz: fuzz-build
	tools/fuzz.sh $(FUZZ) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# Only what the demo runs is built; the compiler's output goes to a log, shown when
# the build fails.
demo: configure
	@echo "Building the Request Manager, qlm and the sample application (log: $(BUILD)/demo-build.log) ..."
	@cmake --build $(BUILD) -j $(JOBS) --target $(DEMO_TARGETS) >$(BUILD)/demo-build.log 2>&1 \
	  || { tail -40 $(BUILD)/demo-build.log; echo "The build failed; the whole log: $(BUILD)/demo-build.log"; exit 1; }
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

install: configure
	cmake --build $(BUILD) -j $(JOBS) --target $(RUNTIME_TARGETS)
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZ) $(WIN)

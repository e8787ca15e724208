# make        builds the three targets (linux-x64, win-x64, win-x86)
# make test   installs what is missing, builds, runs every test
# make demo   installs what is missing, builds, runs the road of a release (operator to player)
# make bench  builds optimised and runs the benchmarks

BUILD := $(CURDIR)/build
NATIVE := $(BUILD)/linux-x64
WIN64 := $(BUILD)/win-x64
WIN32 := $(BUILD)/win-x86
RELEASE := $(BUILD)/linux-x64-release
FUZZ := $(BUILD)/fuzz
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 30

.PHONY: all deps build configure test demo bench fuzz format clean

all: build

deps:
	@bash scripts/install-deps.sh

$(NATIVE)/build.ninja:
	cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON \
	  -DWIN_X64_DIR=$(WIN64) -DWIN_X86_DIR=$(WIN32)
$(WIN64)/build.ninja:
	cmake -S . -B $(WIN64) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x64.cmake
$(WIN32)/build.ninja:
	cmake -S . -B $(WIN32) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86.cmake
$(RELEASE)/build.ninja:
	cmake -S . -B $(RELEASE) -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTS=OFF -DBUILD_BENCH=ON
$(FUZZ)/build.ninja:
	cmake -S tests/fuzz -B $(FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++

configure: $(NATIVE)/build.ninja $(WIN64)/build.ninja $(WIN32)/build.ninja

build: configure
	cmake --build $(WIN64) -j $(JOBS)
	cmake --build $(WIN32) -j $(JOBS)
	cmake --build $(NATIVE) -j $(JOBS)

test: deps
	$(MAKE) build
	$(MAKE) fuzz
	@# One wine environment held for the whole run, instead of one per test program.
	bash scripts/wine-env.sh start make >/dev/null
	ctest --test-dir $(NATIVE) --output-on-failure -j $(JOBS); status=$$?; \
	  bash scripts/wine-env.sh stop make; exit $$status

fuzz: $(FUZZ)/build.ninja
	cmake --build $(FUZZ) -j $(JOBS)
	bash scripts/run-fuzzers.sh $(FUZZ) $(FUZZ_SECONDS)

demo: deps
	$(MAKE) build
	bash scripts/demo.sh $(BUILD)

bench: deps $(RELEASE)/build.ninja
	cmake --build $(RELEASE) -j $(JOBS)
	bash scripts/run-benchmarks.sh $(RELEASE)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)

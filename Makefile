# Stillwick: `make run` builds and starts the program, `make test` builds and runs every test.
# Both install what is missing first (scripts/bootstrap, Debian packages only).

BUILD      ?= build/release
TESTBUILD  ?= build/test
ASANBUILD  ?= build/asan
TSANBUILD  ?= build/tsan
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

.PHONY: all bootstrap build run test test-build sanitize asan tsan bench install deb format clean

all: build

bootstrap:
	@scripts/bootstrap

build: bootstrap
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build $(BUILD) -j $(JOBS)

# The test cameras stand in for real ones on a machine without any.
run: build
	GST_PLUGIN_PATH=$(CURDIR)/$(BUILD)/gst-plugins$${GST_PLUGIN_PATH:+:$$GST_PLUGIN_PATH} \
	  $(BUILD)/src/stillwick

test-build: bootstrap
	cmake -S . -B $(TESTBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTILLWICK_WERROR=ON
	cmake --build $(TESTBUILD) -j $(JOBS)

test: test-build
	cd $(TESTBUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# ASan+UBSan over the whole suite, then TSan over the suites where threads meet.
sanitize: asan tsan

asan: bootstrap
	cmake -S . -B $(ASANBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DSTILLWICK_SANITIZE=address
	cmake --build $(ASANBUILD) -j $(JOBS)
	cd $(ASANBUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

tsan: bootstrap
	cmake -S . -B $(TSANBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTILLWICK_SANITIZE=thread
	cmake --build $(TSANBUILD) -j $(JOBS)
	cd $(TSANBUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -L 'capture|ui'

bench: bootstrap
	@scripts/bootstrap bench
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build $(BUILD) -j $(JOBS) --target stillwick_bench gststillwicktestcam
	QT_QPA_PLATFORM=offscreen $(BUILD)/bench/stillwick_bench

install: build
	cmake --install $(BUILD)

deb: build
	cd $(BUILD) && cpack -G DEB

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build

# Stillwick: `make run` builds and starts the program, `make test` builds and runs every test.
# Both install what is missing first (scripts/bootstrap, Debian packages only).

BUILD      ?= build/release
TESTBUILD  ?= build/test
ASANBUILD  ?= build/asan
TSANBUILD  ?= build/tsan
FUZZBUILD  ?= build/fuzz
FUZZ_SECONDS ?= 600
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

.PHONY: all bootstrap build run test test-build field lint sanitize asan tsan bench fuzz install deb format clean

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
	@scripts/bootstrap field
	cd $(TESTBUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The field tests alone: the program against the kernel's vivid driver in a QEMU guest
# (tests/field); also part of `make test`.
field: test-build
	@scripts/bootstrap field
	cd $(TESTBUILD) && ctest --output-on-failure -L field

# The house rules CI keeps: the layers, the format, and clang-tidy's checks (.clang-tidy) over
# every source, all with zero findings. Uses the test build's compile commands.
lint: test-build
	scripts/check-layers
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.h')
	run-clang-tidy -p $(TESTBUILD) -j $(JOBS) -quiet '$(CURDIR)/(src|testcam|harness|tests|bench|fuzz)/.*\.cpp$$'

# ASan+UBSan over the whole suite, then TSan over the suites where threads meet.
sanitize: asan tsan

asan: bootstrap
	cmake -S . -B $(ASANBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DSTILLWICK_SANITIZE=address
	cmake --build $(ASANBUILD) -j $(JOBS)
	cd $(ASANBUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# Only the suites run here are built: a whole TSan build costs CI minutes for nothing.
TSAN_SUITES := capture|ui
tsan: bootstrap
	cmake -S . -B $(TSANBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTILLWICK_SANITIZE=thread
	cmake --build $(TSANBUILD) -j $(JOBS) --target $$(ninja -C $(TSANBUILD) -t targets all | \
	  sed -nE 's/^(($(TSAN_SUITES))_[A-Za-z0-9]+): phony$$/\1/p')
	cd $(TSANBUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -L '$(TSAN_SUITES)'

bench: bootstrap
	@scripts/bootstrap bench
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build $(BUILD) -j $(JOBS) --target stillwick_bench gststillwicktestcam
	QT_QPA_PLATFORM=offscreen $(BUILD)/bench/stillwick_bench

# The settings-file parser under libFuzzer (clang, ASan+UBSan) for FUZZ_SECONDS; the corpus it
# grows stays in the build folder for the next run.
fuzz: bootstrap
	@scripts/bootstrap fuzz
	cmake -S . -B $(FUZZBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DSTILLWICK_FUZZ=ON
	cmake --build $(FUZZBUILD) -j $(JOBS) --target profile_fuzz
	mkdir -p $(FUZZBUILD)/corpus
	$(FUZZBUILD)/fuzz/profile_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	  -artifact_prefix=$(FUZZBUILD)/ $(FUZZBUILD)/corpus fuzz/seeds

install: build
	cmake --install $(BUILD)

deb: build
	cd $(BUILD) && cpack -G DEB

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build

# Lumaro III: one-command entry points.
#   make demo   install what is missing, build, convert sample pictures
#   make test   install what is missing, build, run the whole test suite
#   make package  build the Debian package lumaro_*.deb into the build folder
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build test demo asan clean bench package

all: build

deps:
	@bash scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

package: build
	cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/lumaro_*.deb

demo: build
	@bash scripts/demo $(BUILD)/bin/lumaro

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
# Leaks that third-party libraries keep for the process are suppressed
# (tests/lsan.supp).
asan: export LSAN_OPTIONS = suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0
asan:
	$(MAKE) test BUILD=build-asan BUILD_TYPE=Debug CMAKE_FLAGS="-DLUMARO_SANITIZE=ON -DLUMARO_BUILD_UI=ON"

bench: build
	@bash bench/run $(BUILD)/bin/lumaro

clean:
	rm -rf $(BUILD) build-asan demo-out

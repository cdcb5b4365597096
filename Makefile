# `make run` builds and starts the game; `make test` builds and runs every test. Both install
# the Debian packages they need first (as root) or say how to. `make check` runs the tests again
# under the address, undefined-behaviour and thread sanitizers (build-asan/, build-tsan/).
BUILD ?= build
SANITIZE ?=
JOBS ?= $(shell nproc)

.PHONY: run test check build deps-run deps-test deps-package configure bench package format clean

run: deps-run build
	./$(BUILD)/game/snake

# A build directory configured by `make run` has no tests yet: configure it again asking for them.
test: deps-test
	cmake -S . -B $(BUILD) -G Ninja -DSANITIZE=$(SANITIZE) -DSNAKE_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

check: deps-test
	JOBS=$(JOBS) tools/check.sh

# The Debian package of the game in dist/, for `apt install ./dist/snake-garden_*.deb`.
package: deps-package build
	rm -rf $(BUILD)/package
	cd $(BUILD) && cpack -B package
	mkdir -p dist && cp $(BUILD)/package/snake-garden_*.deb dist/

deps-run:
	@tools/install-deps.sh run

deps-test:
	@tools/install-deps.sh test

deps-package:
	@tools/install-deps.sh package

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DSANITIZE=$(SANITIZE)

configure: $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

bench: deps-test build
	tools/bench.sh $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) build-asan build-tsan dist

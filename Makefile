# `make run` builds and starts the game; `make test` builds and runs every test. Both install
# the Debian packages they need first (as root) or say how to. `make check` runs the tests again
# under the address, undefined-behaviour and thread sanitizers (build-asan/, build-tsan/).
# `make web` builds the game for a web page into dist/web/, `make web-serve` serves it on this
# machine and `make test-web` plays it in headless Chromium (build-web/).
# `make windows` cross-builds the game for 64-bit Windows into build-windows/ (SDL2 from Debian's
# source is built there once and kept); `make test-windows` runs the tests under Wine and Xvfb;
# `make package-windows` puts the zip and the installer in dist/.
BUILD ?= build
WEB_BUILD ?= build-web
WEB_PORT ?= 8000
WINDOWS_BUILD ?= build-windows
SANITIZE ?=
JOBS ?= $(shell nproc)
# Debian's emscripten finds its JavaScript modules (acorn) in /usr/share/nodejs, where a Node.js
# from outside Debian does not look.
WEB_ENV = NODE_PATH=/usr/share/nodejs$${NODE_PATH:+:$$NODE_PATH}

.PHONY: run test check build deps-run deps-test deps-package deps-web deps-windows configure \
  bench package web web-serve test-web windows test-windows package-windows format clean

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

windows: deps-windows
	tools/windows/build-sdl2.sh $(WINDOWS_BUILD)/sdl2
	cmake -S . -B $(WINDOWS_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
		-DSNAKE_TESTS=ON -DSNAKE_BENCH=OFF
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

test-windows: windows
	cd $(WINDOWS_BUILD) && ctest --output-on-failure -j $(JOBS)

package-windows: windows
	rm -rf $(WINDOWS_BUILD)/package
	cd $(WINDOWS_BUILD) && cpack -B package
	mkdir -p dist && cp $(WINDOWS_BUILD)/package/snake-garden-*-win64.zip \
		$(WINDOWS_BUILD)/package/snake-garden-*-win64-setup.exe dist/

deps-windows:
	@tools/install-deps.sh windows

deps-run:
	@tools/install-deps.sh run

deps-test:
	@tools/install-deps.sh test

deps-package:
	@tools/install-deps.sh package

deps-web:
	@tools/install-deps.sh web

# The page and the program beside it: index.html, snake.js, snake.wasm and the icon, which any
# static file server can serve as they are.
web: deps-web
	$(WEB_ENV) emcmake cmake -S . -B $(WEB_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release
	$(WEB_ENV) cmake --build $(WEB_BUILD) -j $(JOBS)
	rm -rf dist/web
	mkdir -p dist/web
	cp $(addprefix $(WEB_BUILD)/web/,index.html snake.js snake.wasm snake-garden.svg) dist/web/

web-serve: web
	@echo "Snake Garden is at http://127.0.0.1:$(WEB_PORT)/ (Ctrl+C stops the server)"
	python3 -m http.server $(WEB_PORT) --bind 127.0.0.1 --directory dist/web

# The web build played in headless Chromium; the table it stores is compared with what the
# desktop game writes, which a small native program records (built in $(BUILD)).
test-web: web configure
	cmake --build $(BUILD) --target record_score
	cd tests/web && npm ci --no-audit --no-fund
	node tests/web/web_e2e.js dist/web $(BUILD)/tests/web/record_score

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
	rm -rf $(BUILD) build-asan build-tsan $(WEB_BUILD) $(WINDOWS_BUILD) dist

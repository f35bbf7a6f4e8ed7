# The two everyday commands: `make run` serves, `make test` tests.
# Both install what is missing first and build into build/.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
PORT ?= 47002
SHARE ?=

.PHONY: all bootstrap configure build run test test-fast test-e2e asan tsan format clean package screenshots

all: build

bootstrap:
	@tools/bootstrap

configure: bootstrap
	@cmake --preset default -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@tools/run-daemon "$(BUILD_DIR)" "$(PORT)" "$(SHARE)"

test: build
	@cd $(BUILD_DIR) && VEMBACAST_SHUTDOWN_COMMAND=true ctest --output-on-failure -j $(JOBS) --timeout 600

# A Debian package of the installed tree (cmake/Packaging.cmake: the programs in
# lib/vembacast with links in bin/, share/vembacast/res, manual pages, the systemd units).
package: build
	@cd $(BUILD_DIR) && cpack -G DEB

screenshots: build
	@tools/screenshots

test-fast: build
	@cd $(BUILD_DIR) && VEMBACAST_SHUTDOWN_COMMAND=true ctest --output-on-failure -j $(JOBS) -LE e2e

test-e2e: build
	@cd $(BUILD_DIR) && VEMBACAST_SHUTDOWN_COMMAND=true ctest --output-on-failure -j $(JOBS) -L e2e

asan tsan: bootstrap
	@cmake --preset $@ >/dev/null
	@cmake --build --preset $@ -j $(JOBS)
	@VEMBACAST_SHUTDOWN_COMMAND=true ctest --preset $@ -j $(JOBS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD_DIR) build-asan build-tsan

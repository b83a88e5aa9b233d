# The two everyday commands; both install what is missing first.
#   make run    build and start the virtual camera (ptzcam-sim) with its console; "exit" or Ctrl-C stops it
#   make test   build and run the whole test suite
#   make armhf  cross build for the camera, unit tests run under qemu-arm
JOBS ?= $(shell nproc)
CMAKE_ARGS ?=
ARGS ?=

.PHONY: setup build run test asan tsan armhf fuzz coverage clean

setup:
	@tools/setup.sh

build: setup
	cmake --preset default $(CMAKE_ARGS) >/dev/null
	cmake --build --preset default -j$(JOBS)

run: build
	build/default/ptzcam-sim $(ARGS)

test: build
	ctest --preset default -j$(JOBS)

asan tsan: setup
	cmake --preset $@ $(CMAKE_ARGS) >/dev/null
	cmake --build --preset $@ -j$(JOBS)
	ctest --preset $@ -j$(JOBS)

armhf:
	@tools/setup.sh cross
	cmake --preset armhf $(CMAKE_ARGS) >/dev/null
	cmake --build --preset armhf -j$(JOBS)
	qemu-arm -L /usr/arm-linux-gnueabihf build/armhf/tests/unit_tests

fuzz:
	@tools/setup.sh fuzz
	cmake --preset fuzz $(CMAKE_ARGS) >/dev/null
	cmake --build --preset fuzz -j$(JOBS)

# The suite of `make test` on a --coverage build, then line and branch coverage of src/ and sim/.
coverage:
	@tools/setup.sh coverage
	cmake --preset coverage $(CMAKE_ARGS) >/dev/null
	cmake --build --preset coverage -j$(JOBS)
	find build/coverage -name '*.gcda' -delete
	-ctest --preset coverage -j$(JOBS)
	tools/coverage_report build/coverage

clean:
	rm -rf build

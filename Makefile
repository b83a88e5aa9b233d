# The two everyday commands; both install what is missing first.
#   make run    build and start the virtual camera (ptzcam-sim)
#   make test   build and run the whole test suite
JOBS ?= $(shell nproc)
CMAKE_ARGS ?=
ARGS ?=

.PHONY: setup build run test asan tsan armhf fuzz clean

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

fuzz:
	@tools/setup.sh fuzz
	cmake --preset fuzz $(CMAKE_ARGS) >/dev/null
	cmake --build --preset fuzz -j$(JOBS)

clean:
	rm -rf build

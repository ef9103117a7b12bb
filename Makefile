# The two commands that set everything up on a fresh machine:
#   make run    installs what is missing, builds, and runs the program
#   make test   installs what is missing, builds, and runs the whole test suite
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
RELEASE_BUILD ?= build-release
JOBS ?= $(shell nproc)

.PHONY: run demo test test-sanitize test-release deps build build-sanitize build-release clean

run: build
	scripts/run-kestrome $(BUILD)

# The same without a display: under Xvfb, connecting with the demo account and
# leaving a screenshot in run/demo.png.
demo: build
	scripts/demo $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: build-sanitize
	cd $(SANITIZE_BUILD) && ctest --output-on-failure -j $(JOBS)

# The build type most users pick by hand, with warnings as errors so that
# CI sees what a user's compiler would say at -O3.
test-release: build-release
	cd $(RELEASE_BUILD) && ctest --output-on-failure -j $(JOBS)

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROME_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS)

build-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKESTROME_SANITIZE=ON -DKESTROME_WERROR=ON
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)

build-release: deps
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DKESTROME_WERROR=ON
	cmake --build $(RELEASE_BUILD) -j $(JOBS)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(RELEASE_BUILD)

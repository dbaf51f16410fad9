# The kit's commands: `make test` and `make run` (see README.md).
BUILD ?= build
RELEASE_BUILD ?= build-release
JOBS ?= $(shell nproc)
BENCH_FILTER ?= .

.PHONY: all test run bench configure release clean

all: test

configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Debug

# Configure, build everything, run every test.
test: configure
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

release:
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE_BUILD) -j $(JOBS)

# Release build, then the kit's main program.
run: release
	@if [ -x $(RELEASE_BUILD)/bin/compare_products ]; then \
	  $(RELEASE_BUILD)/bin/compare_products; \
	else \
	  echo "Built everything in $(RELEASE_BUILD); the main program compare_products is not written yet."; \
	fi

# Release build, then every benchmark program (reported, never asserted).
bench: release
	@for b in $(RELEASE_BUILD)/bin/bench_*; do \
	  echo "== $$b"; $$b --benchmark_filter='$(BENCH_FILTER)' || exit 1; \
	done

clean:
	rm -rf $(BUILD) $(RELEASE_BUILD)

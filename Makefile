# The kit's commands: `make run` and `make test` (see README.md). Each first
# installs the Debian packages it needs (scripts/deps.sh, scripts/packages.txt).
BUILD ?= build
RUN_BUILD ?= build-run
RELEASE_BUILD ?= build-release
JOBS ?= $(shell nproc)
BENCH_FILTER ?= .
# Arguments for compare_products in `make run`, e.g. ARGS='--size 1024 --threads 1,2'.
ARGS ?=
# Package groups `make deps` installs.
GROUPS ?= run test
DEPS = scripts/deps.sh

# make's own lines ("Entering directory ...") would only hide the programs' output.
MAKEFLAGS += --no-print-directory

.PHONY: all deps test run try bench configure release clean check-asan check-tsan fuzz lint format docs-check

all: test

deps:
	@$(DEPS) $(GROUPS)

# Configure explicitly (every other target configures only a missing build folder;
# `cmake --build` re-runs CMake by itself when a CMakeLists.txt changed).
configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Debug

# Build everything in Debug, run every test (the pages' check of docs-check among them).
test:
	@$(DEPS) run test
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Debug
	@cmake --build $(BUILD) -j $(JOBS)
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The pages checked (scripts/docs_check.py): every figure a lesson quotes is on
# docs/measurements.md or marked † as no measurement; every command of a ```sh block names a
# make target and a program that exist, with options the program accepts (asked of the program
# itself); every link, picture and anchor holds. The Debug build of `make test` provides the
# programs; `make test` runs the same check as its test docs.check.
docs-check:
	@$(DEPS) run test
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Debug
	@cmake --build $(BUILD) -j $(JOBS)
	@scripts/docs_check.py --build $(BUILD)

# The library, the tools and the examples in Release (no tests, no benchmarks,
# so neither GoogleTest nor Google Benchmark is needed), then the kit's main program.
# The build shows what it compiles but no "Built target" line for what is up to date.
RUN_CONFIGURE = cmake -S . -B $(RUN_BUILD) -DCMAKE_BUILD_TYPE=Release \
  -DDENSE_BUILD_TESTS=OFF -DDENSE_BUILD_BENCH=OFF -DDENSE_BUILD_EXAMPLES=ON -DDENSE_MPI=OFF \
  -DCMAKE_TARGET_MESSAGES=OFF
run:
	@$(DEPS) run
	@test -f $(RUN_BUILD)/CMakeCache.txt || $(RUN_CONFIGURE)
	@cmake --build $(RUN_BUILD) -j $(JOBS)
	@$(RUN_BUILD)/bin/compare_products $(ARGS)

# Your own product beside the kit's (docs/exercises.md): the Release build of `make run`, then
# SRC compiled into a shared object with the command line that build wrote (the kit's headers and
# warning set, no library on its link line), then compare_products with it at 1 ... max threads
# beside tipo1, omp and kernel. Its rows are named after the file; SYMBOL is the function it
# exports (by default the file's name, as in the starter); ARGS passes further options. When SRC
# has a `// goal:` line, the run also writes RUN_BUILD/try/NAME.csv (a --csv in ARGS takes its
# place) and scripts/try_goal.py says whether the goal is met by the intervals of that CSV; the
# status stays compare_products'.
SRC ?= exercises/my_product.cpp
TRY_LABEL = $(basename $(notdir $(SRC)))
SYMBOL ?= $(TRY_LABEL)
# Seconds one call of a product may take in make try (and make grade) before it is stopped: a
# starter at the default size takes well under one, so a product that never returns is named
# within seconds. Raise it for large sizes (TIMEOUT=60).
TIMEOUT ?= 5
try:
	@$(DEPS) run
	@test -f $(RUN_BUILD)/CMakeCache.txt || $(RUN_CONFIGURE)
	@cmake --build $(RUN_BUILD) -j $(JOBS) --target compare_products
	@mkdir -p $(RUN_BUILD)/try
	@echo "compiling $(SRC) into $(RUN_BUILD)/try/$(TRY_LABEL).so"
	@$$(cat $(RUN_BUILD)/exercises/compile_command) '$(SRC)' -o '$(RUN_BUILD)/try/$(TRY_LABEL).so'
	@if grep -q '^ *// goal:' '$(SRC)'; then csv='$(RUN_BUILD)/try/$(TRY_LABEL).csv'; rm -f "$$csv"; \
	  $(RUN_BUILD)/bin/compare_products --add '$(TRY_LABEL)=$(RUN_BUILD)/try/$(TRY_LABEL).so:$(SYMBOL)' \
	    --methods tipo1,omp,kernel --timeout $(TIMEOUT) --csv "$$csv" $(ARGS); status=$$?; \
	  if test -f "$$csv"; then scripts/try_goal.py '$(SRC)' "$$csv" '$(TRY_LABEL)' || true; \
	  elif test $$status -ne 2; then echo "goal: not judged: ARGS wrote the CSV elsewhere;" \
	    "scripts/try_goal.py $(SRC) THAT.csv $(TRY_LABEL) judges it"; fi; exit $$status; \
	else $(RUN_BUILD)/bin/compare_products --add '$(TRY_LABEL)=$(RUN_BUILD)/try/$(TRY_LABEL).so:$(SYMBOL)' \
	  --methods tipo1,omp,kernel --timeout $(TIMEOUT) $(ARGS); fi

# A class's products (docs/teaching.md): every DIR/<student>.cpp compiled with the exercises'
# command line, checked alone on odd shapes, and the right ones timed beside tipo1, omp and kernel
# (scripts/grade.sh), into out/grades.csv and out/grades.md. SYMBOL is the function every file
# exports (my_product unless given), TIMEOUT bounds each call in seconds, ARGS passes options to
# the timed run.
.PHONY: grade
DIR ?=
grade:
	@$(DEPS) run
	@test -f $(RUN_BUILD)/CMakeCache.txt || $(RUN_CONFIGURE)
	@cmake --build $(RUN_BUILD) -j $(JOBS) --target compare_products compare_products_worker
	@RUN_BUILD=$(RUN_BUILD) scripts/grade.sh '$(DIR)' '$(SYMBOL)' '$(TIMEOUT)' $(ARGS)

# Release build of the library, the programs and the benchmarks.
release:
	@$(DEPS) run test
	@test -f $(RELEASE_BUILD)/CMakeCache.txt || cmake -S . -B $(RELEASE_BUILD) \
	  -DCMAKE_BUILD_TYPE=Release -DDENSE_BUILD_TESTS=OFF -DDENSE_BUILD_BENCH=ON
	@cmake --build $(RELEASE_BUILD) -j $(JOBS)

# Every measured number of the docs from one run on this machine: the Release build, then
# scripts/measurements.sh writes docs/measurements.md and the pictures beside it (a few minutes;
# run it on a quiet machine and commit what it wrote).
.PHONY: measurements
measurements: release
	@RELEASE_BUILD=$(RELEASE_BUILD) scripts/measurements.sh

# Release build, then every benchmark program (reported, never asserted).
bench: release
	@for b in $(RELEASE_BUILD)/bin/bench_*; do \
	  echo "== $$b"; $$b --benchmark_filter='$(BENCH_FILTER)' || exit 1; \
	done

# ---- Reliability: sanitizer builds and fuzzing, each in a build directory of its own.
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
# Seconds each fuzz target runs for in `make fuzz`.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= splitv2 read_matrix roundtrip products file_check
# Test directories whose programs start threads or OpenMP teams (tests/common: the
# recorder of threads' phases and the bound on teams; tests/kernel: the team kernel with its
# work counter, progress and CPU choice).
TSAN_TEST_DIRS ?= tests/common tests/parallel tests/kernel

# Sanitizer exit statuses are 86/66, never the 0 or 1 the library exits with
# on purpose, so a report can never pass for an expected exit.
ASAN_ENV = ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:exitcode=86:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:strict_init_order=1 \
           UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=86
TSAN_ENV = TSAN_OPTIONS=ignore_noninstrumented_modules=1:halt_on_error=1:exitcode=66:second_deadlock_stack=1

# Library, tools and tests with AddressSanitizer + UndefinedBehaviorSanitizer
# (g++); the whole suite runs under them with leak detection on.
check-asan:
	@$(DEPS) run test
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DDENSE_BUILD_BENCH=OFF -DDENSE_NATIVE=OFF \
	  "-DCMAKE_CXX_FLAGS=-O1 -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && $(ASAN_ENV) ctest --output-on-failure --no-tests=error -j $(JOBS) -LE mpi
	@# Open MPI keeps what its start-up allocates (partly in components it has
	@# already unloaded) until the process ends, so the MPI tests run with every
	@# check but the leak report.
	cd $(ASAN_BUILD) && $(ASAN_ENV) ASAN_OPTIONS=detect_leaks=0:halt_on_error=1:exitcode=86 \
	  ctest --output-on-failure -j $(JOBS) -L mpi

# The threaded and OpenMP products and their tests under ThreadSanitizer.
# clang with its own OpenMP runtime (libomp), which TSan understands; the
# process never loads libgomp. Nothing is suppressed.
check-tsan:
	@$(DEPS) run test ci
	cmake -S . -B $(TSAN_BUILD) -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
	  -DDENSE_BUILD_BENCH=OFF -DDENSE_NATIVE=OFF \
	  "-DCMAKE_CXX_FLAGS=-O1 -fsanitize=thread -fno-omit-frame-pointer"
	@set -e; ran=0; for d in $(TSAN_TEST_DIRS); do \
	  if [ -f $(TSAN_BUILD)/$$d/Makefile ]; then \
	    echo "== $$d under ThreadSanitizer"; \
	    $(MAKE) --no-print-directory -C $(TSAN_BUILD)/$$d -j $(JOBS); \
	    (cd $(TSAN_BUILD)/$$d && $(TSAN_ENV) ctest --output-on-failure --no-tests=error -j $(JOBS)); \
	    ran=1; \
	  fi; \
	done; \
	if [ $$ran = 0 ]; then echo "check-tsan: none of $(TSAN_TEST_DIRS) has tests"; exit 1; fi

# Every libFuzzer target for FUZZ_SECONDS seconds, starting from the committed
# corpus (fuzz/corpus/<target>, only read); new inputs go to
# $(FUZZ_BUILD)/corpus/<target>, a crashing input to $(FUZZ_BUILD)/artifacts/.
# fuzz/lsan.supp lists only clang's OpenMP runtime, whose thread pool outlives
# the last input; check-asan runs the same code with no suppression at all.
fuzz:
	@$(DEPS) run ci
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DDENSE_BUILD_FUZZ=ON \
	  -DDENSE_BUILD_TESTS=OFF -DDENSE_BUILD_BENCH=OFF -DDENSE_BUILD_EXAMPLES=OFF -DDENSE_NATIVE=OFF \
	  -DCMAKE_CXX_FLAGS=-O1
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/artifacts; \
	  dict=; if [ -f fuzz/$$t.dict ]; then dict=-dict=fuzz/$$t.dict; fi; \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/fuzz/lsan.supp \
	  $(FUZZ_BUILD)/bin/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -close_fd_mask=1 -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=16384 $$dict \
	    -artifact_prefix=$(FUZZ_BUILD)/artifacts/$$t- $(FUZZ_BUILD)/corpus/$$t fuzz/corpus/$$t; \
	done

# ---- Lint: one style in every C++ folder of the kit, with the checked-in
# .clang-format and .clang-tidy. Every finding fails the target; `make format`
# rewrites the files in clang-format's layout.
LINT_BUILD ?= build-lint
LINT_DIRS ?= src include tools tests bench fuzz examples exercises
LINT_FILES = $(shell find $(LINT_DIRS) \( -name '*.cpp' -o -name '*.hpp' \) | sort)
# clang-tidy reads each source's flags from the compile database of the kit's
# own build (the fuzz targets are in it too, as the tests' replay programs).
# The small projects the package tests build apart (tests/*/consumer) have no
# entry there and are only formatted.
LINT_SOURCES = $(shell find $(LINT_DIRS) -name '*.cpp' -not -path '*/consumer/*' | sort)

# clang-tidy sees only the code the preprocessor keeps on this machine; code behind
# a switch that depends on what is installed or on the CPU (`#if __has_include`,
# `#if defined(__AVX512F__)`) is checked for braces on its text by
# scripts/check_braces.py, so the verdict is the same on every machine.
# The build folder is configured only, never built. Every check always runs,
# so one call lists every finding.
lint:
	@$(DEPS) run test ci
	cmake -S . -B $(LINT_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
	  -DDENSE_BUILD_TESTS=ON -DDENSE_BUILD_BENCH=ON -DDENSE_NATIVE=OFF > /dev/null
	@status=0; \
	echo "== clang-format"; clang-format --dry-run --Werror $(LINT_FILES) || status=1; \
	echo "== braces, behind every switch"; scripts/check_braces.py $(LINT_FILES) || status=1; \
	echo "== clang-tidy"; printf '%s\n' $(LINT_SOURCES) | \
	  xargs -P $(JOBS) -n 4 clang-tidy -p $(LINT_BUILD) --quiet --warnings-as-errors='*' \
	    --header-filter='^$(CURDIR)/($(subst $() ,|,$(LINT_DIRS)))/' || status=1; \
	exit $$status

format:
	@$(DEPS) ci
	clang-format -i $(LINT_FILES)

clean:
	rm -rf $(BUILD) $(RUN_BUILD) $(RELEASE_BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(LINT_BUILD)

# Thin wrapper: deps -> configure -> build -> run/test.
BUILD      ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD?= build-release
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: deps build test test-asan run bench clean format

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DZUPO_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

run: build
	@echo "The simulator is not runnable yet: the run driver is still being built."

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD)

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.h')

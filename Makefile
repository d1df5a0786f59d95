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
	@dir=runs/run-$$(date +%Y%m%d-%H%M%S); mkdir -p runs && cp -r examples/default $$dir && \
	  echo "Running the example in $$dir" && \
	  { $(BUILD)/zupo-cli --report $$dir; rc=$$?; } ; \
	  echo "Results: $$dir/run (Data1.txt, Data2.txt, Best*.dat, Backup1.txt), models in $$dir/run/0 .. $$dir/run/9"; \
	  if [ -f $$dir/report/report.html ]; then echo "Report: $$dir/report/report.html"; fi; \
	  exit $$rc

bench: deps
	@cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DZUPO_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS) --target zupo-bench
	@$(BENCH_BUILD)/zupo-bench examples/default 2000

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD)

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.h')

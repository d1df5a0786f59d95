# Thin wrapper: deps -> configure -> build -> run/test.
BUILD      ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD?= build-release
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: deps build test test-asan run bench clean format fuzz mutate

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
	  { $(BUILD)/zupo-cli $$dir; rc=$$?; } ; \
	  echo "Results: $$dir/run (Data1.txt, Data2.txt, Best*.dat, Backup1.txt), models in $$dir/run/0 .. $$dir/run/9"; \
	  exit $$rc

bench: deps
	@cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DZUPO_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS) --target zupo-bench
	@$(BENCH_BUILD)/zupo-bench examples/default 2000

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD)

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.h')

# libFuzzer: each harness runs FUZZ_SECONDS seconds from the kept corpus; new inputs go to
# $(FUZZ_BUILD)/corpus, crashes to $(FUZZ_BUILD)/crashes (keep them under tests/fuzz/corpus).
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZERS      := ini modelfile numbers checkpoint runfiles
fuzz: deps
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DZUPO_FUZZ=ON -DZUPO_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) $(addprefix --target fuzz_,$(FUZZERS))
	@mkdir -p $(FUZZ_BUILD)/crashes
	@for f in $(FUZZERS); do mkdir -p $(FUZZ_BUILD)/corpus/$$f; \
	  echo "== fuzz_$$f for $(FUZZ_SECONDS) s"; \
	  if ! $(FUZZ_BUILD)/fuzz_$$f -max_total_time=$(FUZZ_SECONDS) -max_len=1000000 \
	    -artifact_prefix=$(FUZZ_BUILD)/crashes/$$f- $(FUZZ_BUILD)/corpus/$$f tests/fuzz/corpus/$$f \
	    > $(FUZZ_BUILD)/fuzz_$$f.log 2>&1; then \
	    grep -E "ERROR|SUMMARY|artifact" $(FUZZ_BUILD)/fuzz_$$f.log; exit 1; fi; \
	  grep -E "DONE" $(FUZZ_BUILD)/fuzz_$$f.log; done

# Single-line mutations of src/ (scripts/mutations.tsv) against the tests; prints the kill rate.
mutate:
	@scripts/mutate

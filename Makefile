# Thin wrapper: deps -> configure -> build -> run/test.
BUILD      ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD?= build-release
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: deps build test test-asan test-cluster run screenshot bench clean format fuzz mutate

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

# A study of the example (2 x 2 grid, 2 replicates, 30 generations) on a single-node Slurm
# started here: submitted with sbatch --wait, then collected. Needs root.
CLUSTER_DIR ?= /tmp/zupo-cluster
test-cluster: build
	@scripts/install-deps cluster
	@rm -rf $(CLUSTER_DIR) && mkdir -p $(CLUSTER_DIR)
	@scripts/local-slurm start $(CLUSTER_DIR)/slurm
	@export SLURM_CONF=$(CLUSTER_DIR)/slurm/slurm.conf; \
	  $(BUILD)/zupo-sweep plan examples/default $(CLUSTER_DIR)/study --set Irate=0.05,0.1 \
	    --set G_Gap=5,10 --set Gen_No=30 --replicates 2 --seed 1 --time 0:10:00 --mem 500M && \
	  sinfo && sbatch --wait $(CLUSTER_DIR)/study/sweep.sbatch && \
	  $(BUILD)/zupo-sweep status $(CLUSTER_DIR)/study && \
	  $(BUILD)/zupo-sweep collect $(CLUSTER_DIR)/study && \
	  cut -d, -f1,3,4,6-10,16,17 $(CLUSTER_DIR)/study/summary.csv && \
	  test "$$(grep -c ',0,finished,30,' $(CLUSTER_DIR)/study/summary.csv)" = 8; \
	  rc=$$?; scripts/local-slurm stop $(CLUSTER_DIR)/slurm; \
	  if [ $$rc -eq 0 ]; then echo "test-cluster: 8 of 8 runs finished on Slurm; study in $(CLUSTER_DIR)/study"; \
	  else echo "test-cluster: FAILED (study and logs in $(CLUSTER_DIR))"; fi; exit $$rc

# The window program when there is a display to show it on and it was built, else zupo-cli.
run: build
	@dir=runs/run-$$(date +%Y%m%d-%H%M%S); mkdir -p runs && cp -r examples/default $$dir && \
	  if { [ -n "$$DISPLAY" ] || [ -n "$$WAYLAND_DISPLAY" ]; } && [ -x $(BUILD)/zupo ]; then \
	    prog=$(BUILD)/zupo; else prog="$(BUILD)/zupo-cli --report"; fi; \
	  echo "Running the example in $$dir with $$prog" && \
	  { $$prog $$dir; rc=$$?; } ; \
	  if [ $$rc -eq 0 ] && [ ! -f $$dir/report/report.html ] && [ -x $(BUILD)/zupo-report ]; then \
	    $(BUILD)/zupo-report $$dir; fi; \
	  echo "Results: $$dir/run (Data1.txt, Data2.txt, Best*.dat, Backup1.txt), models in $$dir/run/0 .. $$dir/run/9"; \
	  if [ -f $$dir/report/report.html ]; then echo "Report: $$dir/report/report.html"; fi; \
	  exit $$rc

# 600 generations of the example in the window (offscreen, fixed seed); the window at the end
# is saved as $(BUILD)/zupo-window.png.
screenshot: build
	@test -x $(BUILD)/zupo || { echo "zupo was not built (Qt 6 Widgets and Charts missing?)"; exit 1; }
	@dir=$$(mktemp -d) && cp -r examples/default/. $$dir && \
	  sed -i 's/^Gen_No=[0-9]*/Gen_No=600/' $$dir/Zupo.ini && \
	  { QT_QPA_PLATFORM=offscreen $(BUILD)/zupo --seed 1 --screenshot $(BUILD)/zupo-window.png $$dir; \
	    rc=$$?; } ; rm -rf $$dir; exit $$rc

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

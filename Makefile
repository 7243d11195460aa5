# Pellomar: make run | make test | make build | make fuzz
#   make test SANITIZE=address   ASan + UBSan build in build-asan, whole suite
#   make test SANITIZE=thread    TSan build in build-tsan, whole suite
#   make fuzz [FUZZ_SECONDS=60]  every fuzz target for that long (clang, build-fuzz)
#   scripts/with-load.sh make test   the suite beside one busy loop per core
SANITIZE ?=
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
FUZZ_BUILD ?= build-fuzz
SAN_SUPP := $(CURDIR)/scripts/sanitize
ifeq ($(SANITIZE),address)
BUILD ?= build-asan
# The preload library of the input simulation is loaded before the runtime.
export ASAN_OPTIONS ?= detect_leaks=0:verify_asan_link_order=0
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1:suppressions=$(SAN_SUPP)/ubsan.supp
else ifeq ($(SANITIZE),thread)
BUILD ?= build-tsan
export TSAN_OPTIONS ?= halt_on_error=1:second_deadlock_stack=1:suppressions=$(SAN_SUPP)/tsan.supp
else ifneq ($(SANITIZE),)
$(error SANITIZE must be address or thread)
endif
BUILD ?= build

.PHONY: run test build deps test-deps configure clean bench package fuzz

deps:
	@scripts/deps.sh build

test-deps:
	@scripts/deps.sh build test

configure:
	@cmake -S . -B $(BUILD) -G Ninja -DPMR_SANITIZE=$(SANITIZE) >/dev/null

build: deps configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run.sh $(BUILD)/pellomar

test: test-deps configure
	@cmake --build $(BUILD) -j $(JOBS) --target tests
	@cd $(BUILD) && ctest -LE xvfb --output-on-failure -j $(JOBS)
	@cd $(BUILD) && ctest -L xvfb --output-on-failure

package: build
	@scripts/package.sh $(BUILD) $(BUILD)/packages

bench: deps configure
	@cmake --build $(BUILD) -j $(JOBS) --target benches
	@for b in $(BUILD)/bench/*; do echo "== $$b"; $$b; done

fuzz: test-deps
	@cmake -S . -B $(FUZZ_BUILD) -G Ninja -DPMR_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	@scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)

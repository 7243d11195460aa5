# Pellomar: make run | make test | make build
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: run test build deps test-deps configure clean bench package

deps:
	@scripts/deps.sh build

test-deps:
	@scripts/deps.sh build test

configure:
	@cmake -S . -B $(BUILD) -G Ninja >/dev/null

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

clean:
	rm -rf $(BUILD)

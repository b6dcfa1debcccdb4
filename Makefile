# Two entry points: `make run [ARGS=...]` and `make test`. Both install what they need first.
BUILD ?= build
ARGS ?=
JOBS ?= $(shell nproc)

.PHONY: setup build run test format check-format

setup:
	@bash scripts/setup.sh

build: setup
	@cmake -S . -B $(BUILD) -G Ninja >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/run.sh $(BUILD)/wrenfield $(ARGS)

test: build
	@bash scripts/check-format.sh
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

format:
	@bash scripts/check-format.sh --fix

# The two set-up commands: `make demo` and `make test` (see README.md).
SHELL := /bin/bash

.PHONY: setup demo test test-exhaustive test-sanitizers test-cpu-tiers fuzz bench clean

setup:
	bash scripts/setup.sh

demo: setup
	.venv/py312/bin/python scripts/demo.py

test:
	bash scripts/test.sh

test-exhaustive:
	bash scripts/test_exhaustive.sh

test-sanitizers:
	bash scripts/test_sanitizers.sh

test-cpu-tiers:
	bash scripts/test_cpu_tiers.sh

FUZZ_SECONDS ?= 90
fuzz:
	bash scripts/fuzz.sh $(FUZZ_SECONDS)

bench: setup
	.venv/py312/bin/python -m pip install -q -r requirements/bench.txt
	.venv/py312/bin/python bench/run.py

clean:
	rm -rf build dist .venv

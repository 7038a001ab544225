# Korvane's commands. Each installs what is missing first, so it works on a
# fresh Debian 12 machine.
ARCHS := x86 x64
JOBS ?= $(shell nproc)
SEEDS ?= 1000
FIRST ?= 1

.PHONY: all deps build test demo dist bench faults clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	@bash scripts/build.sh $(ARCHS)

test: build
	@bash scripts/run-tests.sh $(ARCHS)

demo: deps
	@bash scripts/build.sh x86
	@python3 scripts/demo.py

dist: build
	@bash scripts/dist.sh

faults: build
	@for arch in $(ARCHS); do echo "== $$arch"; bash scripts/faults.sh $$arch $(SEEDS) $(FIRST) || exit 1; done

bench: build
	@bash scripts/bench.sh

clean:
	rm -rf build

# Korvane's commands. Each installs what is missing first, so it works on a
# fresh Debian 12 machine.
ARCHS := x86 x64
JOBS ?= $(shell nproc)
SEEDS ?= 1000
FIRST ?= 1
# VERSION (A.B.C.D), when given, reaches the build and the release through the environment.
export VERSION
# Wine through the project's launcher (it copes with kernels without 32-bit support).
export PATH := $(CURDIR)/scripts/wine-bin:$(PATH)

.PHONY: all deps build test test-install demo dist bench faults faults-wayback clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	@bash scripts/build.sh $(ARCHS)

test: build
	@bash scripts/run-tests.sh $(ARCHS)

# The demo runs the x86 build, or the x64 one where Wine cannot run x86 programs.
demo: deps
	@arch=$$(bash scripts/wine-can-run.sh x86 && echo x86 || echo x64); \
	bash scripts/build.sh $$arch && DEMO_ARCH=$$arch python3 scripts/demo.py

# make dist VERSION=A.B.C.D builds a release of that version; SIGN_PFX=FILE
# (password in SIGN_PASS, SIGN_TIMESTAMP=URL optional) signs it.
dist: build
	@bash scripts/dist.sh

# The release packages installed, upgraded, refused and removed in a fresh
# Wine prefix, and signed with a throwaway certificate (CI runs it after test).
test-install: deps
	@bash scripts/test-install.sh

faults: build
	@for arch in $(ARCHS); do echo "== $$arch"; \
	  bash scripts/wine-can-run.sh $$arch || { echo "not run: Wine cannot run $$arch programs here"; continue; }; \
	  bash scripts/faults.sh $$arch $(SEEDS) $(FIRST) || exit 1; done

# krvn's way back: delete, then restore twice, on random stores with random faults (make faults-wayback SEEDS=N FIRST=S).
faults-wayback: build
	@for arch in $(ARCHS); do echo "== $$arch"; \
	  bash scripts/wine-can-run.sh $$arch || { echo "not run: Wine cannot run $$arch programs here"; continue; }; \
	  bash scripts/faults-wayback.sh $$arch $(SEEDS) $(FIRST) || exit 1; done

bench: build
	@bash scripts/bench.sh

clean:
	rm -rf build

# The two commands a newcomer needs: `make demo` and `make test`.
PRESETS := linux win64 win32
JOBS ?= 2
# cmake's generated makefiles run make within make: no "Entering directory" lines.
MAKEFLAGS += --no-print-directory
# The demo needs only the native launcher, in a build of its own without
# the tests, so that it needs neither GoogleTest nor the cross compilers.
DEMO_BUILD := build/demo-launcher

.PHONY: all bootstrap build demo test unit blackbox bench fuzz clean

all: build

bootstrap:
	@bash scripts/bootstrap.sh

build: bootstrap
	@for p in $(PRESETS); do \
	  cmake --preset $$p >/dev/null && cmake --build --preset $$p -j $(JOBS) || exit 1; \
	done

demo:
	@bash scripts/bootstrap.sh demo
	@cmake --preset linux -B $(DEMO_BUILD) -DLAUNCHER_TESTS=OFF >/dev/null && \
	  cmake --build $(DEMO_BUILD) -j $(JOBS) --target launcher
	@DEMO_LAUNCHER=$(DEMO_BUILD)/launcher bash scripts/demo.sh

test: build
	@bash scripts/test.sh

# Not part of `make test`: timings want a quiet machine.
bench: build
	@bash bench/run.sh

# Fuzzes the boot definition reader; FUZZ_SECONDS sets how long.
fuzz: bootstrap
	@bash fuzz/run.sh $${FUZZ_SECONDS:-600}

clean:
	rm -rf build

# The two commands a newcomer needs: `make demo` and `make test`.
PRESETS := linux win64 win32
JOBS ?= 2

.PHONY: all bootstrap build demo test unit blackbox bench fuzz clean

all: build

bootstrap:
	@bash scripts/bootstrap.sh

build: bootstrap
	@for p in $(PRESETS); do \
	  cmake --preset $$p >/dev/null && cmake --build --preset $$p -j $(JOBS) || exit 1; \
	done

demo: build
	@bash scripts/demo.sh

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

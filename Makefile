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

clean:
	rm -rf build

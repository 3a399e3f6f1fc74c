# The front door: every target installs what is missing, then hands over to
# CMake's presets, one per architecture.
ARCHES := x86_64 i386

.PHONY: all deps build test demo clean

all: build

deps:
	@./scripts/install-deps

build: deps
	@for arch in $(ARCHES); do \
		cmake --preset $$arch >/dev/null && cmake --build --preset $$arch || exit 1; \
	done

test: build
	@for arch in $(ARCHES); do \
		echo "== tests of the $$arch build"; \
		ctest --preset $$arch || exit 1; \
	done

demo: build
	@./scripts/demo

clean:
	rm -rf build

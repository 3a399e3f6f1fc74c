# The front door: every target installs what is missing, then hands over to
# CMake's presets: one per architecture, and one more with the sanitizers.
ARCHES := x86_64 i386
CHECKED := asan

.PHONY: all deps build test demo bench package clean

all: build

deps:
	@./scripts/install-deps

define configure_and_build
	cmake --preset $(1) >/dev/null && cmake --build --preset $(1)
endef

build: deps
	@set -e; for preset in $(ARCHES); do $(call configure_and_build,$$preset); done

test: package
	@set -e; for preset in $(CHECKED); do $(call configure_and_build,$$preset); done
	@set -e; for preset in $(ARCHES) $(CHECKED); do \
		echo "== tests of the $$preset build"; \
		ctest --preset $$preset; \
	done

# Debian and RPM packages of both architectures, in build/packages.
package: build
	@rm -rf build/packages
	@set -e; for preset in $(ARCHES); do cmake --build --preset $$preset --target debs rpms; done
	@lintian --fail-on error build/packages/*.deb

demo: build
	@./scripts/demo

# x86-64 only: see bench/CMakeLists.txt.
bench: build
	@cmake --build --preset x86_64 --target probe_bench
	@build/x86_64/bench/probe_bench
	@build/x86_64/bench/probe_bench --jni

clean:
	rm -rf build

# The front door: every target installs what is missing, then hands over to
# CMake's presets: one per architecture, and one more with the sanitizers.
# Each step prints one line and logs its output under build/logs; V=1 shows
# the output as well.
# CMake's own makes inherit this: no "Entering directory" lines.
MAKEFLAGS += --no-print-directory
ARCHES := $(shell scripts/targets preset)
CHECKED := asan
# The version of the changelog's first entry: "osidentity (1.0.0) unstable; ..."
VERSION := $(shell head -n 1 packaging/changelog | tr -d '()' | cut -d ' ' -f 2)
# This machine's own target: the row of its Debian architecture.
HOST_ARCH := $(shell scripts/targets --host preset)
# `make demo` shows the host's target alone; `make demo ALL=1` every target.
DEMO_ARCHES := $(if $(ALL),$(ARCHES),$(HOST_ARCH))
STEP := ./scripts/step
# A target whose root could not be made is left out, with one line (status
# 77); any other failure stops the loop.
READY = scripts/roots ready $$preset || { status=$$?; [ $$status -eq 77 ] || exit $$status; continue; }
# Configures and builds each preset named after it; the first word turns the
# tests' build on or off (the demo's set-up lacks GoogleTest).
BUILD := sh -c 'testing=$$1; shift; for preset; do $(READY); \
	cmake --preset $$preset -DBUILD_TESTING=$$testing && cmake --build --preset $$preset || exit; \
	done' -
# The demo builds the tests only where `make test` configured the tree for
# them: it never builds what its own set-up did not install.
DEMO_TESTING := $$(grep -qs '^BUILD_TESTING:BOOL=ON' build/$(HOST_ARCH)/CMakeCache.txt && echo ON || echo OFF)
# Beside the packages: each tool that links a glibc whose release's security
# suite no longer carries its architecture.
UNSECURED := scripts/roots unsecured | sed 's/^/  WARNING: /'

.PHONY: all deps build test demo bench package repo clean clean-roots

all: build

deps:
	@./scripts/install-deps

build: deps
	@$(STEP) "Building $(ARCHES)" build $(BUILD) ON $(ARCHES)

test: repo
	@$(STEP) "Building $(CHECKED)" build-checked $(BUILD) ON $(CHECKED)
	@set -e; for preset in $(ARCHES) $(CHECKED); do \
		echo "== tests of the $$preset build"; \
		$(READY); \
		ctest --preset $$preset; \
	done

# Debian and RPM packages of every target, in build/packages, and the Maven
# artifact, whose jar carries every target's library, in build/packages/maven.
package: build
	@rm -rf build/packages
	@$(STEP) "Packaging $(ARCHES)" package \
		sh -c 'for preset; do $(READY); \
		cmake --build --preset $$preset --target debs rpms || exit; done' - $(ARCHES)
	@$(STEP) "Making the Maven artifact" maven packaging/build-maven $(VERSION) build/packages \
		build/$(HOST_ARCH)/java/osidentity.jar build/packages/maven
	@find build/packages -type f | LC_ALL=C sort | sed 's/^/  /'
	@sed -n 's/^build-maven: /  WARNING: /p' build/logs/maven.log
	@$(UNSECURED)
	@findings=$$(lintian --fail-on error build/packages/*.deb 2>&1); status=$$?; \
	findings=$$(printf '%s\n' "$$findings" | grep -v '^running with root privileges'); \
	echo "lintian: $${findings:-no findings}"; exit $$status

# Signed apt and RPM repositories of those packages, in build/repo, signed
# with the key OSIDENTITY_SIGNING_KEY names, or else a throwaway one.
repo: package
	@$(STEP) "Making signed apt, RPM and Maven repositories" repo \
		packaging/build-repo build/packages build/repo build/throwaway-key
	@echo "  build/repo: debian/ (apt), rpm/ (dnf, yum), maven/, unsigned/, SHA256SUMS, public keys, client files"
	@sed -n 's/^WARNING: /  &/p' build/logs/repo.log
	@$(UNSECURED)

demo:
	@./scripts/install-deps $(if $(ALL),,host)
	@$(STEP) "Building $(DEMO_ARCHES)" build $(BUILD) $(DEMO_TESTING) $(DEMO_ARCHES)
	@./scripts/demo $(DEMO_ARCHES)

# x86-64 only: see bench/CMakeLists.txt.
bench: build
	@$(STEP) "Building the benchmark" build-bench cmake --build --preset x86_64 --target probe_bench forking_libc
	@build/x86_64/bench/probe_bench
	@build/x86_64/bench/probe_bench --jni
	@LD_PRELOAD=$(CURDIR)/build/x86_64/tests/libforking_libc.so build/x86_64/bench/probe_bench

# The targets' roots stay: they are a cache (scripts/roots).
clean:
	rm -rf build

clean-roots:
	scripts/roots clean

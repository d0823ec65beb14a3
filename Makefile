# SPDX-License-Identifier: GPL-2.0-or-later
# Front end to the CMake presets, which first installs, as root, the Debian
# packages a target needs (scripts/install-deps.sh).
PREFIX      ?= /usr
WERROR      ?= OFF
JOBS        ?= $(shell nproc)
CMAKE_ARGS  ?=
# Scripts called from here build with as many jobs, and so do cmake --build
# and ctest, whose presets leave the number to these.
export JOBS
export CMAKE_BUILD_PARALLEL_LEVEL = $(JOBS)
export CTEST_PARALLEL_LEVEL = $(JOBS)

# Each kind of build is a preset of CMakePresets.json with a tree of its
# own, so that none reconfigures or rebuilds another. preset NAME
# configures and builds it; tested NAME also runs its tests.
CONFIGURE = -DCMAKE_INSTALL_PREFIX=$(PREFIX) -DHOSTKIT_WERROR=$(WERROR) $(CMAKE_ARGS)
preset = cmake --preset $(1) $(CONFIGURE) && cmake --build --preset $(1)
tested = $(call preset,$(1)) && ctest --preset $(1)

.PHONY: all build check demo install update-po clean asan-check lint fuzz coverage

all: build

# The program alone needs only the build packages; the test suite, and the
# packages only it needs, come with make check.
build:
	@scripts/install-deps.sh build
	$(call preset,default)

# Always the whole suite, and a failure when it holds no test at all.
check:
	@scripts/install-deps.sh build test
	$(call tested,check)

demo: build
	scripts/demo.sh build/tool/sectrim

install: build
	DESTDIR=$(DESTDIR) cmake --install build

# Refresh po/hostkit.pot from the sources and merge it into every translation.
update-po:
	sh po/update-po.sh

# Quality gates: sanitizers over the whole suite, static analysis, fuzzing
# and coverage, each in a build tree of its own.
FUZZ_SECONDS ?= 300

asan-check:
	@scripts/install-deps.sh build test
	$(call tested,asan)

lint:
	@scripts/install-deps.sh build lint
	scripts/lint.sh

fuzz:
	@scripts/install-deps.sh build fuzz
	scripts/fuzz.sh $(FUZZ_SECONDS)

coverage:
	@scripts/install-deps.sh build test coverage
	$(call tested,coverage)
	gcovr -r . --object-directory build-coverage --filter 'tool/' --filter 'common/' \
		--exclude-directories 'build-coverage/CMakeFiles' \
		--exclude-unreachable-branches --exclude-throw-branches --print-summary \
		--fail-under-line 95 --fail-under-branch 85 \
		--txt build-coverage/coverage.txt

# Benchmarks against the tool's limits, printed as one table of ratios (see
# docs/performance.md). The rows that need loop devices need root.
.PHONY: bench
bench:
	@scripts/install-deps.sh build test bench
	$(call preset,bench)
	bench/run.py build-bench

# The Debian package, built in $(DEB_BUILD) from the release tarball of
# HEAD, where the .deb is left beside those of other architectures; lintian
# must pass it. ARCH=A cross-builds it for another Debian architecture.
DEB_BUILD ?= build-deb
.PHONY: deb
deb:
	@scripts/install-deps.sh $(if $(ARCH),-a $(ARCH)) dist deb
	scripts/build-deb.sh $(DEB_BUILD) $(ARCH)

# Releases: the source tarball and its checksum in $(DIST_BUILD), then the
# proof that the tarball alone builds, passes its tests and installs.
DIST_BUILD ?= build-dist
.PHONY: dist distcheck
dist:
	@scripts/install-deps.sh dist
	scripts/dist.sh $(DIST_BUILD)

distcheck: dist
	@scripts/install-deps.sh build test
	scripts/distcheck.sh $(DIST_BUILD)

# What the release steps of docs/releasing.md need besides: dch.
.PHONY: release-tools
release-tools:
	@scripts/install-deps.sh release dist

# The whole suite built for another Debian architecture (ARCH=i386, armhf,
# arm64, s390x, ...) and run natively or under qemu-user, in build-cross-ARCH.
.PHONY: cross-check
cross-check:
	scripts/cross-check.sh $(ARCH) build-cross-$(ARCH)

# The program on the drivers it meets in the field (NVMe, SATA, SCSI,
# virtio, SD cards, the kernel's test devices) in a virtual machine under
# Debian's kernel, built static in $(VM_BUILD); the kernel is cached there.
VM_BUILD ?= build-vm
.PHONY: vm-check
vm-check:
	@scripts/install-deps.sh build test vm
	WERROR=$(WERROR) scripts/vm-check.sh $(VM_BUILD)

clean:
	rm -rf build build-check build-bench $(DEB_BUILD) $(DIST_BUILD) $(VM_BUILD) \
		build-asan build-coverage build-fuzz build-lint build-cross-* fuzz-out

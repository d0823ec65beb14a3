# Convenience front end to the CMake build.
BUILD   ?= build
PREFIX  ?= /usr
WERROR  ?= OFF
JOBS    ?= 2
CMAKE_ARGS ?=

CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX) \
	-DHOSTKIT_WERROR=$(WERROR) $(CMAKE_ARGS)

.PHONY: all build check demo install clean

all: build

build:
	@scripts/install-deps.sh build test
	$(CONFIGURE)
	cmake --build $(BUILD) -j$(JOBS)

check: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

demo: build
	scripts/demo.sh $(BUILD)/tool/sectrim

install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD)

clean:
	rm -rf $(BUILD)

# Two commands: `make run` starts the tool against the simulated adapter,
# `make test` builds everything and runs every test.
BUILD     ?= build
WIN_BUILD := $(BUILD)/win
SIM_BUILD := $(BUILD)/sim
JOBS      ?= $(shell nproc)
XVFB      := $(if $(DISPLAY),,xvfb-run -a -s "-screen 0 1280x1024x24")

.PHONY: all deps build build-win build-sim test run bench clean

all: build

deps:
	@tools/install-deps

build: build-sim build-win

build-sim: deps
	@cmake -S tools/adapter-sim -B $(SIM_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(SIM_BUILD) -j $(JOBS)

build-win: deps
	@cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(WIN_BUILD) -j $(JOBS)

test: build
	@echo "== simulator tests (native)"
	@cd $(SIM_BUILD) && ctest --output-on-failure
	@echo "== tool tests (under Wine)"
	@cd $(WIN_BUILD) && $(XVFB) ctest --output-on-failure -j 2; rc=$$?; \
	    WINEPREFIX=$(CURDIR)/$(BUILD)/wineprefix wineserver -k 2>/dev/null; exit $$rc

run: build
	@tools/run-tool

bench: build
	@tools/run-bench $(WIN_BUILD)
	@RZ310_WIN_BUILD=$(CURDIR)/$(WIN_BUILD) tools/bench-startup

clean:
	rm -rf $(BUILD)

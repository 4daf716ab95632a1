# Two commands: `make run` starts the tool against the simulated adapter,
# `make test` builds everything and runs every test.
BUILD     ?= build
WIN_BUILD := $(BUILD)/win
SIM_BUILD := $(BUILD)/sim
JOBS      ?= $(shell nproc)
XVFB      := $(if $(DISPLAY),,xvfb-run -a -s "-screen 0 1280x1024x24")
# The Wine server outlives the programs and dumps its objects to stderr when
# the virtual display goes first: the recipes stop it while the display is
# still there.
WINESERVER_STOP := WINEPREFIX=$(CURDIR)/$(BUILD)/wineprefix; export WINEPREFIX; \
    wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
# CMake's own makefiles recurse; their directory lines tell nobody anything.
MAKEFLAGS += --no-print-directory

.PHONY: all deps build build-win build-sim test format mutants run bench dist clean

all: build

deps:
	@tools/install-deps

build: build-sim build-win

# Configured once; later builds re-run CMake themselves when a CMakeLists.txt
# changes (configuring again with the toolchain file named would only earn a
# warning that it went unused: it is cached).
build-sim: deps
	@[ -f $(SIM_BUILD)/CMakeCache.txt ] || \
	    cmake -S tools/adapter-sim -B $(SIM_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(SIM_BUILD) -j $(JOBS)

build-win: deps
	@[ -f $(WIN_BUILD)/CMakeCache.txt ] || \
	    cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(WIN_BUILD) -j $(JOBS)

test: build
	@echo "== house style (.clang-format)"
	@tools/check-format
	@echo "== simulator tests (native)"
	@cd $(SIM_BUILD) && ctest --output-on-failure
	@echo "== tool tests (under Wine)"
	@cd $(WIN_BUILD) && $(XVFB) sh -c 'ctest --output-on-failure -j 2; rc=$$?; \
	    $(WINESERVER_STOP); exit $$rc'

# Puts each deliberate fault of tools/mutants/mutants.txt into a copy of the
# sources and prints the tests that catch it; fails when one escapes. It takes
# many minutes, so it is not part of make test.
mutants: build
	@tools/mutants/run --quick

# Reformats every C++ file to the house style.
format: deps
	@tools/check-format --fix

run: build
	@tools/run-tool

bench: build
	@$(XVFB) sh -c 'tools/run-bench $(WIN_BUILD); rc=$$?; \
	    export RZ310_WIN_BUILD=$(CURDIR)/$(WIN_BUILD); \
	    tools/bench-startup 25 || rc=$$?; tools/trace-startup 7 || rc=$$?; \
	    tools/bench-batch 8 || rc=$$?; \
	    $(WINESERVER_STOP); exit $$rc'

# RZ310_Config-<version>.zip: the stripped exe, both manuals, an example
# settings file and a read-me.
dist: build
	@cmake --build $(WIN_BUILD) --target dist

clean:
	rm -rf $(BUILD)

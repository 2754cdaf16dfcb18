# Shortcuts over CMake presets, so that building and testing are one command.
# Everything here can also be done with cmake and ctest directly; see README.md.

EXAMPLE ?= examples/square.scm
PREFIX ?= /usr/local
FUZZ_SECONDS ?= 3600

.PHONY: all build run check test sanitize coverage fuzz fuzz-smoke bench install web clean

all: build

build:
	cmake --preset release >/dev/null
	cmake --build --preset release

# Builds as needed and runs the interpreter on an example program.
run: build
	./build/release/vellumark < $(EXAMPLE)

# Builds as needed and runs the fast part of the suite: all but the large
# inputs, lint and install.
check:
	cmake --workflow --preset check

# Builds as needed and runs the whole test suite.
test:
	cmake --workflow --preset release

# The whole test suite again, under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	cmake --workflow --preset sanitize

# Line and branch coverage of src/ by the test suite, with their floors.
coverage:
	tests/coverage.sh

# In-process, coverage-guided fuzzing of the whole interpreter for
# FUZZ_SECONDS (fuzz/README.md).
fuzz:
	fuzz/fuzz.sh $(FUZZ_SECONDS)

fuzz-smoke:
	fuzz/fuzz.sh 120

bench: build
	bench/run.py build/release/vellumark

install: build
	cmake --install build/release --prefix $(PREFIX)

# The browser playground: a folder of static files, build/web/site.
web:
	cmake --workflow --preset web

clean:
	rm -rf build

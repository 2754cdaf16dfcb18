# Shortcuts over CMake presets, so that building and testing are one command.
# Everything here can also be done with cmake and ctest directly; see CONTRIBUTING.md.

EXAMPLE ?= examples/square.scm
PREFIX ?= /usr/local
FUZZ_SECONDS ?= 3600
VERSION := $(shell sed -n 's/^project.vellumark VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
DIST := build/dist

.PHONY: all build run check test sanitize coverage fuzz fuzz-smoke bench perf perf-baseline install web screenshots clean \
        portable libcxx windows package dist

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

# Instruction counts of small versions of the benchmarks against
# bench/baseline.tsv (the test labelled perf); perf-baseline records this
# build's counts as the new baseline.
perf: build
	bench/perf.py

perf-baseline: build
	bench/perf.py --update

install: build
	cmake --install build/release --prefix $(PREFIX)

# The browser playground: a folder of static files, build/web/site.
web:
	cmake --workflow --preset web

# The README's pictures of the playground, doc/*.png, rendered from the built
# page in headless Chromium; remake them whenever the page changes.
screenshots: web
	/usr/bin/python3 tests/web_screenshots.py build/web/site doc --chromium $$(command -v chromium) \
	  --chromedriver $$(command -v chromedriver)

# The other systems, checked on this one (see "Systems" in CONTRIBUTING.md): the
# whole suite on the portable fallback (as on macOS and the BSDs), the whole
# suite built with clang and libc++, and the Windows build under Wine.
portable:
	cmake --workflow --preset portable

libcxx:
	cmake --workflow --preset libcxx

windows:
	cmake --workflow --preset windows
	tests/wine.sh build/windows/vellumark.exe

# A Debian package of the release build, both programs with their manual pages:
# build/release/vellumark_VERSION_ARCH.deb (tests/package.sh checks it).
package: build
	cd build/release && cpack

# What a release publishes, in build/dist: the source, the static Linux
# binaries and the Windows ones (vellumark and vellumark-trace), each with the
# manual pages and README, and their SHA-256 sums. The source archive is the
# committed tree (git archive HEAD).
LINUX_DIST := $(DIST)/linux/vellumark-$(VERSION)-linux-x86_64
WINDOWS_DIST := $(DIST)/windows/vellumark-$(VERSION)-windows-x86_64
dist: build
	cmake --workflow --preset windows
	rm -rf $(DIST) && mkdir -p $(DIST)
	git archive --format=tar.gz --prefix=vellumark-$(VERSION)/ -o $(DIST)/vellumark-$(VERSION).tar.gz HEAD
	mkdir -p $(LINUX_DIST) $(WINDOWS_DIST)
	cp build/release/vellumark build/release/vellumark-trace doc/vellumark.1 doc/vellumark-trace.1 README.md \
	   $(LINUX_DIST)/
	cp build/windows/vellumark.exe build/windows/vellumark-trace.exe doc/vellumark.1 doc/vellumark-trace.1 README.md \
	   $(WINDOWS_DIST)/
	strip $(LINUX_DIST)/vellumark $(LINUX_DIST)/vellumark-trace
	x86_64-w64-mingw32-strip $(WINDOWS_DIST)/vellumark.exe $(WINDOWS_DIST)/vellumark-trace.exe
	cd $(DIST)/linux && tar -czf ../vellumark-$(VERSION)-linux-x86_64.tar.gz vellumark-$(VERSION)-linux-x86_64
	cd $(DIST)/windows && cmake -E tar cf ../vellumark-$(VERSION)-windows-x86_64.zip --format=zip vellumark-$(VERSION)-windows-x86_64
	rm -rf $(DIST)/linux $(DIST)/windows
	cd $(DIST) && sha256sum vellumark-$(VERSION)* > SHA256SUMS && cat SHA256SUMS
	tests/dist.sh $(DIST) $(VERSION)

clean:
	rm -rf build

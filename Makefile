# Shortcuts over CMake presets, so that building and testing are one command.
# Everything here can also be done with cmake and ctest directly; see CONTRIBUTING.md.

EXAMPLE ?= examples/square.scm
PREFIX ?= /usr/local
FUZZ_SECONDS ?= 3600
VERSION := $(shell sed -n 's/^project.vellumark VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
DIST := build/dist

.PHONY: all build run check test sanitize coverage fuzz fuzz-smoke bench install web clean \
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

install: build
	cmake --install build/release --prefix $(PREFIX)

# The browser playground: a folder of static files, build/web/site.
web:
	cmake --workflow --preset web

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

# A Debian package of the release build: build/release/vellumark_VERSION_ARCH.deb.
package: build
	cd build/release && cpack

# What a release publishes, in build/dist: the source, the static Linux binary
# and the Windows one, each with the manual page and README, and their SHA-256
# sums. The source archive is the committed tree (git archive HEAD).
dist: build
	cmake --workflow --preset windows
	rm -rf $(DIST) && mkdir -p $(DIST)
	git archive --format=tar.gz --prefix=vellumark-$(VERSION)/ -o $(DIST)/vellumark-$(VERSION).tar.gz HEAD
	mkdir -p $(DIST)/linux/vellumark-$(VERSION)-linux-x86_64 $(DIST)/windows/vellumark-$(VERSION)-windows-x86_64
	cp build/release/vellumark doc/vellumark.1 README.md $(DIST)/linux/vellumark-$(VERSION)-linux-x86_64/
	cp build/windows/vellumark.exe doc/vellumark.1 README.md $(DIST)/windows/vellumark-$(VERSION)-windows-x86_64/
	strip $(DIST)/linux/vellumark-$(VERSION)-linux-x86_64/vellumark
	x86_64-w64-mingw32-strip $(DIST)/windows/vellumark-$(VERSION)-windows-x86_64/vellumark.exe
	cd $(DIST)/linux && tar -czf ../vellumark-$(VERSION)-linux-x86_64.tar.gz vellumark-$(VERSION)-linux-x86_64
	cd $(DIST)/windows && cmake -E tar cf ../vellumark-$(VERSION)-windows-x86_64.zip --format=zip vellumark-$(VERSION)-windows-x86_64
	rm -rf $(DIST)/linux $(DIST)/windows
	cd $(DIST) && sha256sum vellumark-$(VERSION)* > SHA256SUMS && cat SHA256SUMS

clean:
	rm -rf build

# Pakwiz: the two commands of the README, and a few more for developers.
#   make test    build every preset and run every test tier
#   make demo    build the sample installer and try it under Wine (pakwiz try)
#   make fuzz    longer fuzzing runs          make bench   benchmarks
#   make stub    just the release setup program (i686)

SHELL := /bin/bash
JOBS  ?= $(shell nproc)
FUZZ_SECONDS ?= 30
# make fuzz: each target until it has made LONG_FUZZ_RUNS executions
# (LONG_FUZZ_SECONDS caps each target's time; 0 = no cap). FUZZ_WORKERS=N in
# the environment runs each target as N processes (scripts/run-fuzz.sh).
LONG_FUZZ_RUNS ?= 10000000
LONG_FUZZ_SECONDS ?= 0

.PHONY: all bootstrap native win64 win32 release fuzz-build test test-native test-wine \
        test-fuzz test-stub-size test-dist demo dist fuzz bench stub clean

all: native win64 win32

bootstrap:
	@./scripts/bootstrap.sh

native: bootstrap
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

release: bootstrap
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)

win32: bootstrap
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j $(JOBS)

# The Windows test build uses the native builder to make its test packages
# and the i686 release stub is copied beside the native builder as its default.
win64: native win32
	cmake --preset win64 >/dev/null
	cmake --build --preset win64 -j $(JOBS)

stub: win32
	@ls -l build/win32/bin/pakwiz-stub.exe

fuzz-build: bootstrap
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)

test-native: native
	cd build/native && ctest -j $(JOBS) --output-on-failure

# A failed e2e scenario runs once more (tests/e2e/run-scenario.sh); those
# that passed only then are listed after the run.
test-wine: win64
	cd build/win64 && ctest -L 'wine|e2e' --output-on-failure; status=$$?; \
	  cd ../.. && ./scripts/report-reruns.sh build/win64; exit $$status

test-fuzz: fuzz-build
	./scripts/run-fuzz.sh build/fuzz $(FUZZ_SECONDS)

# The release setup program as built must not grow past STUB_LIMIT: 64 KiB
# with every feature (no C runtime start-up, merged sections, -Oz without a
# frame pointer, pushed call arguments, no 64-bit division routines, a
# 16-colour icon).
STUB_LIMIT ?= 65536
test-stub-size: win32
	./scripts/check-stub-size.sh build/win32/bin/pakwiz-stub.exe $(STUB_LIMIT)

# The packages of the builder (build/packages): a Debian package, a tarball
# and a Windows zip; see scripts/make-dist.sh.
dist: win64 win32
	cmake --preset dist >/dev/null
	cmake --build --preset dist -j $(JOBS) --target pakwiz
	./scripts/make-dist.sh

test-dist: dist
	./tests/dist/dist-test.sh build/packages build/dist-test

test: test-native test-wine test-fuzz test-stub-size test-dist
	@echo "make test: all tiers passed"

fuzz: fuzz-build
	./scripts/run-fuzz.sh build/fuzz $(LONG_FUZZ_SECONDS) $(LONG_FUZZ_RUNS)

bench: release win32 win64
	./scripts/run-bench.sh build/release build/win32

demo: win64
	./scripts/demo.sh

clean:
	rm -rf build

# make build   release build: build/libquillmark.so and build/quillmark
# make test    the whole suite, built with AddressSanitizer and UBSan, run by CTest
# make demo    the main job on a demonstration store
# make bench   benchmarks (release, medians of 3), results in build/bench.json, pairs compared
# make extension  the browser extension (build/extension/chromium, firefox, zips) and quillmark.js
# make screenshots  the desktop dialogs under Xvfb, pictures in build/screenshots/
# make windows      the Windows build (mingw-w64): build/windows/quillmark.dll, quillmark.exe, quillmark-host.exe
# make windows-test the Windows build's tests, run under wine (part of make test when wine is there)
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build test demo bench extension format clean screenshots windows windows-test

# wine runs the Windows tests in a prefix of the build's own, never ~/.wine.
WINE_ENV = WINEPREFIX=$(CURDIR)/build/windows/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=ON >/dev/null
	cmake --build build -j $(JOBS)

test: deps
	cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON >/dev/null
	cmake --build build/asan -j $(JOBS)
	ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	ctest --test-dir build/asan --output-on-failure -j $(JOBS)
	@if command -v wine >/dev/null && command -v x86_64-w64-mingw32-g++-posix >/dev/null; then \
	  $(MAKE) --no-print-directory windows-test; \
	else echo "wine or mingw-w64 not found: the Windows build was not tested"; fi

windows: deps
	cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build/windows -j $(JOBS)

# The dialogs' tests need a display: wine draws them on a virtual X server
# when xvfb-run is there, and the tests that need one skip themselves without.
XVFB_RUN = $(shell command -v xvfb-run >/dev/null 2>&1 && echo "xvfb-run -a")

# One wineserver stays up for the whole run (-p), so no test starts while an
# idle server is shutting down. A failed test runs once more, since wine now and
# then fails to start a program at all (no output, exit within 0.01 s); a
# real fault fails both runs.
windows-test: windows
	$(WINE_ENV) $(XVFB_RUN) sh -c 'wineboot -i >/dev/null 2>&1; wineserver -p; \
	  ctest --test-dir build/windows --output-on-failure -j $(JOBS) --repeat until-pass:2; \
	  rc=$$?; wineserver -k; exit $$rc'

demo: build
	./build/quillmark demo

bench: build
	./build/quillmark_bench --benchmark_repetitions=3 --benchmark_display_aggregates_only=true \
	  --benchmark_out=build/bench.json --benchmark_out_format=json
	@if command -v node >/dev/null; then node bench/page_roundtrip.mjs build build/bench.json; \
	 else echo "node not found: page round trips not measured"; fi
	@if command -v python3 >/dev/null; then python3 bench/compare.py build/bench.json; \
	 else echo "python3 not found: see build/bench.json for the results"; fi

extension: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=ON >/dev/null
	cmake --build build -j $(JOBS) --target quillmark-extension

format:
	find src tests bench -name '*.cc' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf build

screenshots: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=ON >/dev/null
	cmake --build build -j $(JOBS) --target screenshots

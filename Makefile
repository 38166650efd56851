# Two commands do everything on a fresh Debian 12 machine:
#   make demo   - installs what is missing, builds, and runs the demonstration
#   make test   - installs what is missing, builds with sanitizers, runs every test
#   make fuzz   - builds the fuzz targets with clang and runs each FUZZ_SECONDS
#   make windows      - cross-builds the suite and its tests for 64-bit
#                       Windows (mingw-w64), with a Qt for Windows built
#                       from Debian's source (once; see tools/build-qt-windows.sh)
#   make test-windows - runs those tests under wine
#   make openssl-windows - builds OpenSSL for Windows into its cache folder
#                       (make windows does it too when the cache is empty)
#   make qt-windows   - builds Qt for Windows from Debian's qt6-base source
#                       into its cache folder (about an hour on 2 cores)
#   make package-windows - the MSI package quaylink-2.28-x64.msi (wixl)
#   make test-repeat  - the whole suite REPEAT times (default 5) in the
#                       sanitizer build and in a RelWithDebInfo build
BUILD      ?= build
RELEASE    ?= build-release
PACKAGE    ?= build-package
JOBS       ?= 2
# ccache (when installed) is keyed on paths relative to the checkout, so a
# second clone or worktree reuses the objects the first one compiled.
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= 1
CMAKE_GEN  := -G Ninja
FUZZ_BUILD ?= build-fuzz
WINDOWS    ?= build-windows
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= frame xmodem profile settings ftp_reply relay_frame field_options rowsmith

.PHONY: all deps package-deps windows-deps build release test test-repeat demo bench fuzz package windows \
        test-windows package-windows qt-windows openssl-windows clean format

all: release

deps:
	@bash tools/setup-deps.sh

# The test build: AddressSanitizer + UndefinedBehaviorSanitizer.
build: deps
	@cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQL_SANITIZE=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

release: deps
	@cmake -S . -B $(RELEASE) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DQL_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(RELEASE) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

# The whole suite REPEAT times in a row, in the sanitizer build and in a
# RelWithDebInfo build (faster, so a test that races the server fails there
# first); stops at the first failing run.
REPEAT    ?= 5
RELDEBUG  ?= build-relwithdebinfo
test-repeat: build
	@cmake -S . -B $(RELDEBUG) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(RELDEBUG) -j $(JOBS)
	@for b in $(BUILD) $(RELDEBUG); do \
	  for i in $$(seq $(REPEAT)); do \
	    echo "== $$b: run $$i of $(REPEAT)"; \
	    (cd $$b && ctest --output-on-failure -j $(JOBS) --timeout 300) || exit 1; \
	  done; \
	done

# The Windows programs with their windows, and the tests. The Qt for
# Windows comes from the cache that tools/build-qt-windows.sh fills (built
# by windows-deps when missing); QT_WINDOWS= builds without the windows.
# (Another Qt for Windows: QT_WINDOWS=/its/prefix.)
ql_qt_windows = $(if $(filter undefined,$(origin QT_WINDOWS)),$$(bash tools/build-qt-windows.sh --print-prefix),$(QT_WINDOWS))

windows-deps:
	@JOBS=$(JOBS) $(if $(filter undefined,$(origin QT_WINDOWS)),,QL_QT_WINDOWS="$(QT_WINDOWS)") \
	  bash tools/setup-deps.sh windows

# The Windows build's FTP over TLS needs OpenSSL for Windows: built into
# its cache (about 4 CPU-minutes) when the cache has none yet, reused
# after that; a failed build stops here rather than leave TLS out unseen.
windows: windows-deps
	@JOBS=$(JOBS) bash tools/build-openssl-windows.sh || { \
	  echo "windows: OpenSSL for Windows could not be built (see above)" >&2; exit 1; }
	@cmake -S . -B $(WINDOWS) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
	  -DQL_QT_WINDOWS_PREFIX="$(ql_qt_windows)" >/dev/null
	@cmake --build $(WINDOWS) -j $(JOBS)

# OpenSSL for Windows alone, built once into its cache folder from Debian's
# source (tools/build-openssl-windows.sh); `make windows` does the same
# first. A build folder configured without it says that TLS is off there.
openssl-windows: windows-deps
	@JOBS=$(JOBS) bash tools/build-openssl-windows.sh

# Qt for Windows alone, built once into a versioned cache folder outside the
# tree (tools/build-qt-windows.sh --print-prefix names it); `make windows`
# builds it too when it is missing.
qt-windows:
	@bash tools/setup-deps.sh qt-windows
	@JOBS=$(JOBS) bash tools/build-qt-windows.sh

test-windows: windows
	@bash tests/windows/run-under-wine.sh $(WINDOWS) --output-on-failure -j $(JOBS) --timeout 300

# The MSI package, in $(WINDOWS)/packages: the install tree of the Windows
# build (console only, or with the windows when a Qt for Windows was given)
# as a per-machine package for Program Files\Quaylink.
package-windows: windows
	@bash packaging/windows/build-msi.sh $(WINDOWS) $(WINDOWS)/packages

# The Debian packages quaylink and quaylink-gui, in $(PACKAGE)/packages:
# a release build with Debian's hardening flags, then CPack, then lintian.
package-deps:
	@bash tools/setup-deps.sh package

package: package-deps
	@bash packaging/build-packages.sh $(PACKAGE) $(JOBS)

demo: release
	@bash tools/demo.sh $(RELEASE)/bin

bench: release
	@bash tools/setup-deps.sh bench
	@bash bench/run-all.sh $(RELEASE)/bin

# Each fuzz target in turn, under nice, for FUZZ_SECONDS; new inputs collect
# in $(FUZZ_BUILD)/corpus, crashes in $(FUZZ_BUILD)/artifacts.
fuzz:
	@bash tools/setup-deps.sh fuzz
	@cmake -S . -B $(FUZZ_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQL_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_all
	@bash tests/fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(RELEASE) $(FUZZ_BUILD) $(PACKAGE) $(WINDOWS) $(RELDEBUG)

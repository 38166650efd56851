#!/usr/bin/env bash
# Builds Qt for 64-bit Windows (mingw-w64) from Debian's own qt6-base source
# package and installs it into a versioned cache folder, outside any build
# tree, so that every checkout and every `make windows` reuses it.
#
#   tools/build-qt-windows.sh                 build unless the cache is complete
#   tools/build-qt-windows.sh --print-prefix  print the install prefix and exit
#   tools/build-qt-windows.sh --check         exit 0 if the cache is complete
#
# Cache:  ${QL_QT_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quaylink-qt-windows}
# Prefix: <cache>/qt-<debian version>-<options hash>, e.g.
#         /root/.cache/quaylink-qt-windows/qt-6.4.2+dfsg-10-1a2b3c4d
#           bin/Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll Qt6Test.dll
#           plugins/platforms/qwindows.dll qoffscreen.dll qminimal.dll
#           plugins/styles/qwindowsvistastyle.dll
#           lib/cmake/Qt6*/ (what find_package(Qt6) reads), include/
#           licenses/ (Qt's licence texts and the third-party notices)
#           quaylink-qt.stamp (written last: the cache is complete)
# The hash covers the Debian version, the options, the recipe revision and the
# toolchain file, so changing any of them builds a new prefix beside the old.
#
# The source comes through apt with a private sources list, lists and cache
# folder (deb-src lines only): the machine's own apt configuration and what it
# installs stay untouched. The Debian version is the one of the installed host
# tools (qt6-base-dev-tools), because moc, rcc and uic must match the target
# libraries exactly.
#
# The Qt DLLs are linked with -static: each depends only on Windows' own DLLs
# (KERNEL32, msvcrt, USER32, ...), not on the compiler's runtime DLLs, and
# remains a separate, replaceable DLL as Qt's licence (LGPL 3) asks.
#
# Environment: JOBS (default 2), QL_QT_KEEP_BUILD=1 keeps the 2 GB build folder.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/.." && pwd)"
toolchain="$repo/cmake/toolchains/mingw-w64-x86_64.cmake"
cache_root="${QL_QT_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quaylink-qt-windows}"
jobs="${JOBS:-2}"

qt_version="$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null || true)"
if [ -z "$qt_version" ]; then
  echo "build-qt-windows: qt6-base-dev-tools is not installed (run tools/setup-deps.sh windows)" >&2
  exit 1
fi

# Everything the Windows programs do not use is off: fewer build steps and
# fewer DLLs to ship. Bundled third-party code throughout, so that nothing of
# the build machine leaks into the Windows libraries.
QT_OPTIONS=(
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_EXAMPLES=OFF
  -DQT_BUILD_TESTS=OFF
  -DQT_QMAKE_TARGET_MKSPEC=win32-g++
  -DQT_HOST_PATH=/usr
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  -DFEATURE_pkg_config=OFF
  -DFEATURE_sql=OFF
  -DFEATURE_network=OFF
  -DFEATURE_dbus=OFF
  -DFEATURE_printsupport=OFF
  -DFEATURE_concurrent=OFF
  -DFEATURE_xml=OFF
  -DFEATURE_opengl=OFF
  -DINPUT_opengl=no
  -DFEATURE_vulkan=OFF
  -DFEATURE_icu=OFF
  -DFEATURE_zstd=OFF
  -DFEATURE_jpeg=OFF
  -DFEATURE_androiddeployqt=OFF
  -DFEATURE_system_zlib=OFF
  -DFEATURE_system_png=OFF
  -DFEATURE_system_freetype=OFF
  -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_pcre2=OFF
  -DFEATURE_system_doubleconversion=OFF
  -DFEATURE_system_libb2=OFF
  -DFEATURE_gui=ON
  -DFEATURE_widgets=ON
  -DFEATURE_testlib=ON
  -DFEATURE_freetype=ON
)

# Bump when a build step below changes what ends up in the prefix.
recipe=1
key_hash="$( { echo "$qt_version $recipe"; printf '%s\n' "${QT_OPTIONS[@]}"; cat "$toolchain"; } |
  sha256sum | cut -c1-8)"
prefix="$cache_root/qt-$qt_version-$key_hash"
stamp="$prefix/quaylink-qt.stamp"

case "${1:-}" in
  --print-prefix) echo "$prefix"; exit 0 ;;
  --check) [ -f "$stamp" ]; exit $? ;;
  "") ;;
  *) echo "usage: $0 [--print-prefix|--check]" >&2; exit 2 ;;
esac

[ -f "$stamp" ] && exit 0

mkdir -p "$cache_root"
# Two checkouts may ask at once: the second waits for the first and then
# finds the cache complete.
exec 9>"$cache_root/.lock"
flock 9
[ -f "$stamp" ] && exit 0

# The source through apt, unpacked and configured in $work.
fetch_and_configure() {
  mkdir -p "$work/src"
  # --- the source, through a private apt configuration ---
  source "$here/debian-source.sh"
  debian_source_setup "$work"
  : >"$work/source.log"
  debian_source_get "$work/src" "qt6-base=$qt_version" "$work/source.log" || {
    cat "$work/source.log" >&2
    echo "build-qt-windows: could not get the qt6-base $qt_version source" >&2
    exit 1
  }
  src="$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -n1)"

  # Debian's source omits the Wintab tablet headers; the windows platform plugin
  # includes them. Wine's LGPL copies declare the same interface, given two
  # macros of wine's own headers and the calling convention Qt's code names API.
  mkdir -p "$src/src/3rdparty/wintab"
  {
    printf '%s\n' \
      '/* Added for the build of Qt: what wine'"'"'s own headers would supply. */' \
      '#ifndef DECL_WINELIB_TYPE_AW' \
      '# ifdef UNICODE' \
      '#  define WINELIB_NAME_AW(name) name##W' \
      '# else' \
      '#  define WINELIB_NAME_AW(name) name##A' \
      '# endif' \
      '# define DECL_WINELIB_TYPE_AW(type) typedef WINELIB_NAME_AW(type) type;' \
      '#endif' \
      '#ifndef API' \
      '# define API WINAPI' \
      '#endif' ''
    cat /usr/include/wine/wine/windows/wintab.h
  } >"$src/src/3rdparty/wintab/wintab.h"
  cp /usr/include/wine/wine/windows/pktdef.h "$src/src/3rdparty/wintab/"

  # --- configure ---
  cmake -S "$src" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    "${QT_OPTIONS[@]}" >"$work/configure.log" 2>&1 || {
    tail -n 60 "$work/configure.log" >&2
    echo "build-qt-windows: configure failed (see $work/configure.log)" >&2
    exit 1
  }
  echo "$src" >"$work/configured"
}

work="$cache_root/work-$qt_version-$key_hash"
started=$(date +%s)
echo "build-qt-windows: building Qt $qt_version for Windows into $prefix"
echo "build-qt-windows: (about 60 CPU-minutes; log in $work/build.log)"
rm -rf "$prefix"
# An interrupted build of the same version and options goes on where it
# stopped: the source and the configured build folder stay until the cache
# is complete.
if [ -f "$work/configured" ]; then
  echo "build-qt-windows: resuming the build in $work"
  src="$(cat "$work/configured")"
else
  rm -rf "$work"
  fetch_and_configure
fi

# --- build, install ---
cmake --build "$work/build" -j "$jobs" >"$work/build.log" 2>&1 || {
  tail -n 60 "$work/build.log" >&2
  echo "build-qt-windows: build failed (see $work/build.log)" >&2
  exit 1
}
cmake --install "$work/build" >"$work/install.log" 2>&1 || {
  tail -n 30 "$work/install.log" >&2
  echo "build-qt-windows: install failed" >&2
  exit 1
}

# The licence texts travel with the DLLs: Qt's own, Debian's copyright file
# (which lists every bundled third-party part), the bundled parts' notices,
# and the mingw-w64 runtime's (linked into each DLL).
lic="$prefix/licenses"
mkdir -p "$lic/qtbase" "$lic/3rdparty"
cp "$src"/LICENSES/*.txt "$lic/qtbase/"
cp "$src/debian/copyright" "$lic/qtbase/debian-copyright.txt"
for d in "$src"/src/3rdparty/*/; do
  name="$(basename "$d")"
  for f in "$d"LICENSE* "$d"COPYING* "$d"*-LICENSE.txt; do
    [ -f "$f" ] || continue
    mkdir -p "$lic/3rdparty/$name"
    cp "$f" "$lic/3rdparty/$name/"
  done
done
cp /usr/share/doc/mingw-w64-common/copyright "$lic/mingw-w64-runtime.txt" 2>/dev/null || true
cp "$src/src/3rdparty/wintab/"*.h "$lic/3rdparty/" 2>/dev/null || true
rm -f "$lic/3rdparty/"*.h
cat >"$lic/README.txt" <<EOF
Qt $qt_version (Debian's qt6-base source package), built for Windows as
shared libraries (Qt6*.dll) under the GNU LGPL version 3 (qtbase/LGPL-3.0-only.txt).
The corresponding source is Debian's qt6-base_$qt_version, unmodified except
that Wine's LGPL wintab.h and pktdef.h were added as src/3rdparty/wintab.
The DLLs may be replaced by any compatible build of Qt 6.4.
EOF

{
  echo "qt-version: $qt_version"
  echo "options-hash: $key_hash"
  echo "built: $(date -u +%Y-%m-%dT%H:%M:%SZ) in $(($(date +%s) - started)) s"
  printf '%s\n' "${QT_OPTIONS[@]}"
} >"$stamp"

if [ "${QL_QT_KEEP_BUILD:-0}" != 1 ]; then
  rm -rf "$work"
fi
echo "build-qt-windows: done in $(($(date +%s) - started)) s; $(du -sh "$prefix" | cut -f1) in $prefix"

#!/usr/bin/env bash
# Builds the MSI package from a Windows build folder:
#   packaging/windows/build-msi.sh BUILD_DIR OUT_DIR [VERSION]
# cmake --install stages the build's install tree in OUT_DIR/stage, the WiX
# source is generated from what is there (make_wxs.py) and wixl (msitools)
# builds and checks OUT_DIR/quaylink-VERSION-x64.msi. VERSION defaults to
# the project's version; the tests give a later one to try an upgrade.
set -euo pipefail

build=$(cd "${1:?usage: build-msi.sh BUILD_DIR OUT_DIR [VERSION]}" && pwd)
out=${2:?usage: build-msi.sh BUILD_DIR OUT_DIR [VERSION]}
version=${3:-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")}
here=$(cd "$(dirname "$0")" && pwd)

command -v wixl >/dev/null || { echo "build-msi: wixl is missing (tools/setup-deps.sh windows)" >&2; exit 2; }
mkdir -p "$out"
out=$(cd "$out" && pwd)
stage="$out/stage"
rm -rf "$stage"
cmake --install "$build" --prefix "$stage" --strip >/dev/null
name="quaylink-$version-x64"
python3 "$here/make_wxs.py" "$stage" "$version" "$out/$name.wxs"
# wixl reports a source it cannot turn into a valid database as an error;
# the file sources are relative to the folder of the .wxs.
(cd "$out" && wixl -a x64 -o "$name.msi" "$name.wxs")
echo "$out/$name.msi"

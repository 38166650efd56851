#!/usr/bin/env bash
# Builds the Debian packages from this checkout: a release build of its own
# with Debian's hardening flags, CPack's DEB generator, then lintian.
#   packaging/build-packages.sh [build folder] [jobs]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-package}
jobs=${2:-2}

# Debian's default build flags, with every hardening feature (PIE, bindnow).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
      -DQL_BUILD_TESTS=OFF -DQL_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j "$jobs"
rm -rf "$dir/packages"
(cd "$dir" && cpack -G DEB >/dev/null)

echo "Packages:"
ls -1 "$dir"/packages/*.deb
for deb in "$dir"/packages/*.deb; do
  echo "--- $(basename "$deb")"
  dpkg-deb -f "$deb" Package Version Depends
done
if command -v lintian >/dev/null; then
  echo "--- lintian"
  lintian --fail-on error "$dir"/packages/*.deb
fi

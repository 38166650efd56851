#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the demo and the
# benchmarks need. Idempotent and quiet when everything is already there.
# With the argument "fuzz" it also installs clang and its libFuzzer runtime
# for `make fuzz` (the normal build and `make test` need neither).
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  lrzsz socat python3-pyftpdlib curl gawk
  man-db groff-base
)
if [ "${1:-}" = "fuzz" ]; then
  PACKAGES+=(clang-14 libclang-rt-14-dev)
fi
# make package: dpkg-shlibdeps (dpkg-dev), fakeroot and lintian as well.
if [ "${1:-}" = "package" ]; then
  PACKAGES+=(dpkg-dev fakeroot lintian)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

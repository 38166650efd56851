#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the demo and the
# benchmarks need. Idempotent and quiet when everything is already there.
# With the argument "fuzz" it also installs clang and its libFuzzer runtime
# for `make fuzz` (the normal build and `make test` need neither); with
# "windows" the cross compiler and wine; with "package" the packaging tools.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  lrzsz socat python3-pyftpdlib curl gawk
  libssl-dev openssl python3-openssl
  man-db groff-base
  prometheus
  # the windows' end-to-end run: an X server, a window manager, xdotool,
  # ImageMagick's import and xwininfo/xprop
  xvfb openbox xdotool imagemagick x11-utils
)
if [ "${1:-}" = "fuzz" ]; then
  PACKAGES+=(clang-14 libclang-rt-14-dev)
fi
# make windows / test-windows: the mingw-w64 cross compiler, GoogleTest's
# sources (built with it), wine to run the programs, and the peers of the
# end-to-end run (socat, lrzsz, pyftpdlib: already in the list), wixl
# (msitools) for the MSI package and its check. For the Qt for Windows that
# tools/build-qt-windows.sh builds: dpkg-dev (to unpack Debian's source
# package), libwine-dev (the Wintab headers Debian's source leaves out) and
# a font folder for the offscreen tests.
if [ "${1:-}" = "windows" ]; then
  PACKAGES+=(g++-mingw-w64-x86-64-posix googletest wine wine64 wixl
    dpkg-dev libwine-dev fonts-dejavu-core)
  # tools/build-openssl-windows.sh: Debian's openssl source through apt
  # (dpkg-dev unpacks it, the archive keyring checks it); OpenSSL's build
  # itself needs perl and make, which build-essential brings.
  PACKAGES+=(debian-archive-keyring)
fi
# make bench: vsftpd, run by bench/ftp as a second server (a C server, so
# that the figures measure the client); the tests do not need it.
if [ "${1:-}" = "bench" ]; then
  PACKAGES+=(vsftpd)
fi
# make qt-windows (tools/build-qt-windows.sh): the cross compiler, dpkg-dev
# to unpack Debian's qt6-base source, and libwine-dev for the Wintab headers
# that Debian's source leaves out.
if [ "${1:-}" = "qt-windows" ]; then
  PACKAGES+=(g++-mingw-w64-x86-64-posix dpkg-dev libwine-dev)
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
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq >/dev/null
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  # prometheus is here for promtool (the metrics file's check); the server
  # it also installs is not wanted on a build machine: a fresh install is
  # stopped and disabled again (where systemd runs at all).
  if [[ " ${missing[*]} " == *" prometheus "* ]] && [ -d /run/systemd/system ]; then
    $SUDO systemctl disable --now prometheus >/dev/null 2>&1 || true
  fi
fi

# The Qt for Windows: built once into its cache folder (about an hour of one
# core's time), then reused; a no-op when the cache is complete. Skipped
# when the caller names another Qt (QL_QT_WINDOWS, empty for none).
if [ "${1:-}" = "windows" ] && [ -z "${QL_QT_WINDOWS+set}" ]; then
  bash "$(dirname "$0")/build-qt-windows.sh"
fi

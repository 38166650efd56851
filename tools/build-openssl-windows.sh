#!/usr/bin/env bash
# Builds OpenSSL for 64-bit Windows (mingw-w64) from Debian's own openssl
# source package, as static libraries, into a versioned cache folder outside
# any build tree, so that every checkout and every `make windows` reuses it.
# The Windows build's FTP over TLS links it when the cache is complete.
#
#   tools/build-openssl-windows.sh                 build unless the cache is complete
#   tools/build-openssl-windows.sh --print-prefix  print the install prefix and exit
#   tools/build-openssl-windows.sh --check         exit 0 if the cache is complete
#
# Cache:  ${QL_OPENSSL_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quaylink-openssl-windows}
# Prefix: <cache>/openssl-<debian version>-<options hash>, e.g.
#         /root/.cache/quaylink-openssl-windows/openssl-3.0.22-1~deb12u2-1a2b3c4d
#           include/openssl/*.h  lib/libssl.a lib/libcrypto.a
#           licenses/ (OpenSSL's licence and Debian's copyright file)
#           quaylink-openssl.stamp (written last: the cache is complete)
# The hash covers the Debian version, the options and the recipe revision, so
# changing any of them builds a new prefix beside the old.
#
# The source comes through apt with a private sources list, lists and cache
# folder (deb-src lines only): the machine's own apt configuration stays
# untouched. The Debian version wanted is the one of the installed
# libssl-dev, so that Linux and Windows builds speak the same OpenSSL; when
# the mirrors no longer serve that source, the newest bookworm source they
# do serve is built (the stamp names the version built).
#
# Environment: JOBS (default 2), QL_OPENSSL_KEEP_BUILD=1 keeps the build folder.
set -euo pipefail

cache_root="${QL_OPENSSL_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quaylink-openssl-windows}"
jobs="${JOBS:-2}"

version="$(dpkg-query -W -f='${Version}' libssl-dev 2>/dev/null || true)"
if [ -z "$version" ]; then
  echo "build-openssl-windows: libssl-dev is not installed (run tools/setup-deps.sh)" >&2
  exit 1
fi

# Static libraries only (the build makes the libraries alone), nothing the
# FTP client does not use: no loadable engines or providers (the default
# provider is built in), no compression.
OPTIONS=(
  mingw64 no-shared no-tests no-module no-engine no-dso
  no-legacy no-comp no-ssl3 no-dtls no-srp no-idea no-rc5 no-md2
  no-camellia no-seed no-sm2 no-sm3 no-sm4 no-whirlpool no-async
)

# Bump when a build step below changes what ends up in the prefix.
recipe=1
key_hash="$( { echo "$version $recipe"; printf '%s\n' "${OPTIONS[@]}"; } | sha256sum | cut -c1-8)"
prefix="$cache_root/openssl-$version-$key_hash"
stamp="$prefix/quaylink-openssl.stamp"

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

work="$cache_root/work-$version-$key_hash"
started=$(date +%s)
echo "build-openssl-windows: building OpenSSL $version for Windows into $prefix"
echo "build-openssl-windows: (about 10 CPU-minutes; log in $work/build.log)"
rm -rf "$work" "$prefix"
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/src"

# --- the source, through a private apt configuration ---
cat >"$work/apt/sources.list" <<'EOF'
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm-updates main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian-security bookworm-security main
EOF
apt_opts=(
  -o "Dir::Etc::sourcelist=$work/apt/sources.list"
  -o "Dir::Etc::sourceparts=-"
  -o "Dir::State::Lists=$work/apt/lists"
  -o "Dir::Cache=$work/apt/cache"
  -o "APT::Sandbox::User=root"
)
apt-get "${apt_opts[@]}" -qq update
candidates=("$version")
while read -r v; do
  [ "$v" != "$version" ] && candidates+=("$v")
done < <(apt-cache "${apt_opts[@]}" showsrc openssl 2>/dev/null | awk '/^Version:/ {print $2}' |
  sort -r -V)
built=""
for v in "${candidates[@]}"; do
  rm -rf "$work/src" && mkdir -p "$work/src"
  if (cd "$work/src" && apt-get "${apt_opts[@]}" -qq source "openssl=$v" >>"$work/source.log" 2>&1); then
    built="$v"
    break
  fi
done
if [ -z "$built" ]; then
  cat "$work/source.log" >&2
  echo "build-openssl-windows: could not get an openssl source (wanted $version)" >&2
  exit 1
fi
[ "$built" = "$version" ] || echo "build-openssl-windows: the $version source is not served; building $built"
src="$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'openssl-*' | head -n1)"

# --- configure, build, install ---
(cd "$src" && ./Configure "${OPTIONS[@]}" --cross-compile-prefix=x86_64-w64-mingw32- \
  --prefix="$prefix" --libdir=lib >"$work/configure.log" 2>&1) || {
  tail -n 40 "$work/configure.log" >&2
  echo "build-openssl-windows: configure failed (see $work/configure.log)" >&2
  exit 1
}
make -C "$src" -j "$jobs" build_libs >"$work/build.log" 2>&1 || {
  tail -n 40 "$work/build.log" >&2
  echo "build-openssl-windows: build failed (see $work/build.log)" >&2
  exit 1
}
make -C "$src" install_dev >"$work/install.log" 2>&1 || {
  tail -n 30 "$work/install.log" >&2
  echo "build-openssl-windows: install failed" >&2
  exit 1
}

mkdir -p "$prefix/licenses"
cp "$src/LICENSE.txt" "$prefix/licenses/openssl-LICENSE.txt"
cp "$src/debian/copyright" "$prefix/licenses/openssl-debian-copyright.txt"
{
  echo "openssl-version: $built (wanted $version)"
  echo "options-hash: $key_hash"
  echo "built: $(date -u +%Y-%m-%dT%H:%M:%SZ) in $(($(date +%s) - started)) s"
  printf '%s\n' "${OPTIONS[@]}"
} >"$stamp"

if [ "${QL_OPENSSL_KEEP_BUILD:-0}" != 1 ]; then
  rm -rf "$work"
fi
echo "build-openssl-windows: done in $(($(date +%s) - started)) s; $(du -sh "$prefix" | cut -f1) in $prefix"

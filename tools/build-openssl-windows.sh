#!/usr/bin/env bash
# Builds OpenSSL for 64-bit Windows (mingw-w64) from Debian's own openssl
# source package, as static libraries, into a versioned cache folder outside
# any build tree, so that every checkout and every `make windows` reuses it.
# The Windows build's FTP over TLS links it when the cache is complete.
#
#   tools/build-openssl-windows.sh                 build unless a cache is complete
#   tools/build-openssl-windows.sh --print-prefix  print the complete cache's prefix
#                                                  (nothing, exit 1, when there is none)
#   tools/build-openssl-windows.sh --check         exit 0 if a cache is complete
#
# Cache:  ${QL_OPENSSL_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quaylink-openssl-windows}
# Prefix: <cache>/openssl-<Debian version built>-<options hash>, e.g.
#         /root/.cache/quaylink-openssl-windows/openssl-3.0.20-1~deb12u2-1a2b3c4d
#           include/openssl/*.h  lib/libssl.a lib/libcrypto.a
#           licenses/ (OpenSSL's licence and Debian's copyright file)
#           quaylink-openssl.stamp (written last: the cache is complete)
# The hash covers the options and the recipe revision, so changing either
# builds a new prefix beside the old.
#
# The source comes through apt with a private sources list, lists and cache
# folder (deb-src lines only): the machine's own apt configuration stays
# untouched. The Debian version wanted is the one of the installed
# libssl-dev, so that Linux and Windows builds speak the same OpenSSL; the
# mirrors do not always serve that source (a security update reaches the
# binary archive first), and then the newest bookworm source they do serve
# is built. The prefix is named after the version actually built, and a
# complete cache of another version is used rather than built again: run
# with --rebuild to build the wanted version when it is served.
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
# provider is built in), no compression, none of the ciphers, digests and
# message formats that a TLS 1.2/1.3 client never meets (the default
# provider links in every algorithm it has, whether used or not, so each
# one left out makes every program smaller). no-autoload-config: Windows
# has no system OpenSSL configuration, and an openssl.cnf that another
# product left in the shared OpenSSL folder must not change how the server
# speaks TLS.
OPTIONS=(
  mingw64 no-shared no-tests no-module no-engine no-dso no-autoload-config
  no-legacy no-comp no-ssl3 no-dtls no-srp no-srtp no-nextprotoneg no-async
  no-idea no-rc2 no-rc4 no-rc5 no-bf no-cast no-des no-aria no-camellia no-seed
  no-md2 no-md4 no-mdc2 no-rmd160 no-whirlpool no-blake2 no-siphash
  no-sm2 no-sm3 no-sm4 no-gost no-dsa no-ec2m no-ocb no-siv no-scrypt
  no-cms no-ts no-ct
)

# Bump when a build step below changes what ends up in the prefix.
recipe=2
key_hash="$( { echo "$recipe"; printf '%s\n' "${OPTIONS[@]}"; } | sha256sum | cut -c1-8)"
stamp_name=quaylink-openssl.stamp

# The complete cache to use: the wanted version's, else the newest built.
complete_prefix() {
  local wanted="$cache_root/openssl-$version-$key_hash"
  if [ -f "$wanted/$stamp_name" ]; then
    echo "$wanted"
    return 0
  fi
  local found
  found="$(find "$cache_root" -mindepth 2 -maxdepth 2 -path "*/openssl-*-$key_hash/$stamp_name" \
    2>/dev/null | sed "s|/$stamp_name\$||" | sort -V | tail -n1)"
  [ -n "$found" ] && echo "$found"
}

rebuild=0
case "${1:-}" in
  --print-prefix) complete_prefix; exit $? ;;
  --check) complete_prefix >/dev/null; exit $? ;;
  --rebuild) rebuild=1 ;;
  "") ;;
  *) echo "usage: $0 [--print-prefix|--check|--rebuild]" >&2; exit 2 ;;
esac

[ "$rebuild" = 0 ] && complete_prefix >/dev/null && exit 0

mkdir -p "$cache_root"
# Two checkouts may ask at once: the second waits for the first and then
# finds the cache complete.
exec 9>"$cache_root/.lock"
flock 9
[ "$rebuild" = 0 ] && complete_prefix >/dev/null && exit 0

work="$cache_root/work-$key_hash"
started=$(date +%s)
echo "build-openssl-windows: building OpenSSL for Windows (wanted: Debian's $version)"
rm -rf "$work"
mkdir -p "$work/src"

# --- the source, through a private apt configuration ---
source "$(dirname "$0")/debian-source.sh"
debian_source_setup "$work"
candidates=("$version")
while read -r v; do
  [ "$v" != "$version" ] && candidates+=("$v")
done < <(apt-cache "${apt_opts[@]}" showsrc openssl 2>/dev/null | awk '/^Version:/ {print $2}' |
  sort -r -V)
built=""
for v in "${candidates[@]}"; do
  rm -rf "$work/src" && mkdir -p "$work/src"
  if debian_source_get "$work/src" "openssl=$v" "$work/source.log"; then
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
prefix="$cache_root/openssl-$built-$key_hash"
stamp="$prefix/$stamp_name"
rm -rf "$prefix"
echo "build-openssl-windows: into $prefix (about 4 CPU-minutes; log in $work/build.log)"

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
# The stamp appears whole or not at all: a reader never sees half of it.
{
  echo "openssl-version: $built (wanted $version)"
  echo "options-hash: $key_hash"
  echo "built: $(date -u +%Y-%m-%dT%H:%M:%SZ) in $(($(date +%s) - started)) s"
  printf '%s\n' "${OPTIONS[@]}"
} >"$stamp.tmp"
mv "$stamp.tmp" "$stamp"

if [ "${QL_OPENSSL_KEEP_BUILD:-0}" != 1 ]; then
  rm -rf "$work"
fi
echo "build-openssl-windows: done in $(($(date +%s) - started)) s; $(du -sh "$prefix" | cut -f1) in $prefix"

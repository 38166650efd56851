#!/usr/bin/env bash
# FTP throughput on loopback: our client against curl, passive mode, a
# 64 MiB file from and to the FTP server of the tests (pyftpdlib), five runs
# each; prints the medians in MiB/s and the ratio ours/curl.
# Usage: bench/ftp/run.sh <folder with the release programs>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="$(cd "${1:?folder of the release programs}" && pwd)"
runs=${FTP_BENCH_RUNS:-5}
size_mib=${FTP_BENCH_MIB:-64}
# Files live in memory (/dev/shm) when it is there, so that the figures
# measure the network path and not the disk: our client flushes a download
# to disk before renaming it into place, curl does not. BENCH_TMPDIR chooses
# another folder (a disk folder shows what the flush costs).
tmp_base=${BENCH_TMPDIR:-$( [ -d /dev/shm ] && [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")}
work="$(mktemp -d "$tmp_base/ftpbench.XXXXXX")"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/home" "$work/local"
head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$work/home/big.bin"
cp "$work/home/big.bin" "$work/local/up.bin"
/usr/bin/python3 "$here/../../tests/support/ftp_server.py" --home "$work/home" \
  --port-file "$work/port" 2>"$work/server.log" &
server_pid=$!
for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(cat "$work/port")
url="ftp://127.0.0.1:$port"

# Seconds of one curl transfer, connect and login excluded.
curl_get() { curl -s --user quay:link -o "$work/local/curl.bin" -w '%{time_pretransfer} %{time_total}\n' "$url/big.bin" | awk '{printf "%.4f\n", $2 - $1}'; }
curl_put() { curl -s --user quay:link -T "$work/local/up.bin" -w '%{time_pretransfer} %{time_total}\n' "$url/curl-up.bin" | awk '{printf "%.4f\n", $2 - $1}'; }
ours_get() { "$bin/ftp_bench" get "$port" quay link "$work/local/ours.bin" big.bin; }
ours_put() { "$bin/ftp_bench" put "$port" quay link "$work/local/up.bin" ours-up.bin; }

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

# Runs ours and curl alternately, so that a change in the machine's load
# touches both alike; prints the two medians.
measure() {
  local ours=() theirs=()
  for _ in $(seq "$runs"); do
    ours+=("$("$1")")
    theirs+=("$("$2")")
  done
  echo "$(printf '%s\n' "${ours[@]}" | median) $(printf '%s\n' "${theirs[@]}" | median)"
}

report() {
  local what=$1
  read -r ours theirs
  awk -v w="$what" -v o="$ours" -v t="$theirs" -v m="$size_mib" 'BEGIN {
    printf "%-9s ours %8.1f MiB/s   curl %8.1f MiB/s   ratio %.2f\n", w, m / o, m / t, t / o }'
}

echo "FTP on loopback, passive, ${size_mib} MiB, median of $runs runs, files in $tmp_base"
measure ours_get curl_get | report download
cmp -s "$work/home/big.bin" "$work/local/ours.bin" || { echo "download differs"; exit 1; }
measure ours_put curl_put | report upload
cmp -s "$work/local/up.bin" "$work/home/ours-up.bin" || { echo "upload differs"; exit 1; }

#!/usr/bin/env bash
# Relay throughput on loopback: a 16 MiB file uploaded and downloaded through
# the loopback relay server in stream and in packet mode, five runs each;
# prints the medians in MiB/s beside a plain TCP copy of the same bytes.
# Usage: bench/relay/run.sh <folder with the release programs>
set -euo pipefail
bin="$(cd "${1:?folder of the release programs}" && pwd)"
"$bin/relay_bench" "${RELAY_BENCH_MIB:-16}" "${RELAY_BENCH_RUNS:-5}"

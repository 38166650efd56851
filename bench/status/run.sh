#!/usr/bin/env bash
# The status file's costs and quaylink-status' speed:
#  1. 32 console servers on pty lines, status and metrics files on: how long
#     quaylink-status takes to read them all (target < 100 ms), and how much
#     CPU the idle servers use over 10 s (target: none; no status write).
#  2. A block transfer through the whole server (termsim on a socat pty
#     pair), status file and metrics on against statusfile=off: the median
#     time of each (target: no more than 1 % slower).
# Usage: bench/status/run.sh <folder with the release programs> [transfer bytes] [runs]
set -euo pipefail
bin="$(cd "${1:?folder of the release programs}" && pwd)"
here="$(dirname "$0")"
command -v socat >/dev/null || { echo "socat is needed" >&2; exit 1; }
# Not niced: the time quaylink-status takes is the figure, and a niced
# program on a busy machine measures the other programs instead.
python3 "$here/lines.py" "$bin"
nice -n 10 python3 "$here/transfer.py" "$bin" "${2:-1048576}" "${3:-7}"

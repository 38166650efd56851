#!/usr/bin/env bash
# Memory of an idle console server: quaylink --console serving a direct line
# on a pty with no terminal talking, its resident set size (VmRSS) read from
# /proc after it has settled. Target: under 5 MB. Also lists what the
# program links, to show that no window library is among it.
# Usage: bench/rss/run.sh <folder with the release programs>
set -euo pipefail
bin="$(cd "${1:?folder of the release programs}" && pwd)"
exec nice -n 19 python3 "$(dirname "$0")/idle_rss.py" "$bin/quaylink"

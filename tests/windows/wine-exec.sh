#!/usr/bin/env bash
# Runs one Windows program under wine for CTest: the prefix and the
# wineserver are the ones run-under-wine.sh prepared. The console turns "\n"
# into CR LF; the CRs are taken out so that CTest reads test names and
# output as it does on Linux. The program's exit status is kept.
set -uo pipefail
: "${WINEPREFIX:?run the Windows tests through tests/windows/run-under-wine.sh (make test-windows)}"
export WINEDEBUG="${WINEDEBUG:--all}"
source "$(dirname "$0")/wine-qt-env.sh"
wine "$@" 2> >(tr -d '\r' >&2) | tr -d '\r'
status=${PIPESTATUS[0]}
wait
exit "$status"

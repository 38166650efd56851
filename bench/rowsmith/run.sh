#!/usr/bin/env bash
# Converts a generated DATA.TXT of one million lines (two to five fields each)
# with rowsmith and with an awk one-liner that writes the same DEVSCAN.CSV,
# checks that both outputs are identical, and prints the median times.
# Usage: bench/rowsmith/run.sh <folder with the release programs> [lines] [runs]
set -euo pipefail
bin="$(cd "${1:?folder of the release programs}" && pwd)"
lines="${2:-1000000}"
runs="${3:-5}"
work="$(mktemp -d "${TMPDIR:-/tmp}/rowsmith-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# Input: mixed LF and CRLF lines of 2 to 5 fields, fields of 1 to 20 characters.
awk -v n="$lines" 'BEGIN {
    srand(20240611)
    for (i = 0; i < n; i++) {
        f = 2 + int(rand() * 4); line = ""
        for (j = 0; j < f; j++) {
            len = 1 + int(rand() * 20); s = ""
            for (k = 0; k < len; k++) s = s substr("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 -_.", 1 + int(rand() * 40), 1)
            line = line (j ? "," : "") s
        }
        printf "%s%s", line, (i % 4 == 0 ? "\r\n" : "\n")
    }
}' > "$work/input.txt"

header='TAG_NUMBER,SERIAL_ID,ASSET_ID,DEPTID,MODEL,LOCATION,AREA_ID,DESCR,CUSTODIAN,EMPLID,MANUFACTURER,MATCH_STATUS,REVIEW_SW,HDWR_SOFTWR_SW,IP_ADDRESS,IP_ALIAS,SOFTWARE_VERSION,IT_ASSET_ID,SCAN_BUSINESS_UNIT,HAND_HELD_OPERATOR,COMMENTS'

now_ns() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

run_rowsmith() {
    rm -f "$work/DEVSCAN.CSV"
    cp "$work/input.txt" "$work/DATA.TXT"
    local start end
    start=$(now_ns)
    "$bin/rowsmith" "-S$work/DATA.TXT" "-T$work/DEVSCAN.CSV"
    end=$(now_ns)
    echo $(( (end - start) / 1000000 ))
}

run_awk() {
    local awk_bin="$1" start end
    start=$(now_ns)
    "$awk_bin" -F, -v h="$header" 'BEGIN { printf "%s\r\n", h } { gsub(/\r/, ""); printf "%s,,NEXT,,,%s,,,,,,O,N,,,,,,,,\r\n", $2, $1 }' \
        "$work/input.txt" > "$work/awk.csv"
    end=$(now_ns)
    echo $(( (end - start) / 1000000 ))
}

size=$(stat -c %s "$work/input.txt")
echo "rowsmith: $lines lines, $size bytes of input, median of $runs runs"
rs_times=(); for _ in $(seq "$runs"); do rs_times+=("$(run_rowsmith)"); done
rs=$(printf '%s\n' "${rs_times[@]}" | median)
echo "  rowsmith (with fsync)   ${rs} ms   [${rs_times[*]}]"

status=0
for awk_bin in awk gawk mawk; do
    command -v "$awk_bin" >/dev/null || continue
    times=(); for _ in $(seq "$runs"); do times+=("$(run_awk "$awk_bin")"); done
    if ! cmp -s "$work/awk.csv" "$work/DEVSCAN.CSV"; then
        echo "  $awk_bin output differs from rowsmith's" >&2
        status=1
    fi
    m=$(printf '%s\n' "${times[@]}" | median)
    verdict=$([ "$rs" -lt "$m" ] && echo "rowsmith faster" || echo "rowsmith NOT faster")
    echo "  $awk_bin ($(readlink -f "$(command -v "$awk_bin")" | xargs basename))   ${m} ms   [${times[*]}]   outputs identical: $([ $status = 0 ] && echo yes || echo no)   $verdict"
done
exit $status

#!/usr/bin/env bash
# Moves a file over a pseudo-terminal pair in 1K-CRC mode four ways (ours to
# ours, ours to rx, sx to ours, sx to rx) and prints the median time, the
# rate and the ratio to sx->rx; then moves a smaller file ours to ours
# through a relay paced like a 115200-baud line (10 bits a byte) and prints
# the efficiency against the line rate and the time per block; last the time
# the receiver takes to answer the end of file, which includes putting the
# file in place (flush, sync, rename) before the ACK.
#
# Every way runs through the same relay (xm_bench relay): our programs sit
# on a pty, lrzsz on pipes (it flushes its terminal, which loses bytes on a
# pty). Times run from the receiver's first prompt to the end of both
# programs; rx lingers about 1 s after the end of file before it exits,
# and that second is inside the ->rx figures.
#
# Usage: bench/xmodem/run.sh <folder with the release programs> [bytes] [runs] [paced bytes]
set -euo pipefail
bin="$(cd "${1:?folder of the release programs}" && pwd)"
size="${2:-8388608}"
runs="${3:-3}"
paced_size="${4:-262144}"
xm="$bin/xm_bench"
command -v sx >/dev/null && command -v rx >/dev/null || { echo "lrzsz (sx, rx) is needed" >&2; exit 1; }
work="$(mktemp -d "${TMPDIR:-/tmp}/xmodem-bench.XXXXXX")"
relay_pid=""
cleanup() {
    [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
mkdir in out
head -c "$size" /dev/urandom > out/SRC.DAT
head -c "$paced_size" /dev/urandom > out/PACED.DAT

now_ns() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
wait_for() { for _ in $(seq 200); do [ -e "$1" ] && return 0; sleep 0.05; done; echo "no $1" >&2; exit 1; }
check() { cmp -s "$1" "$2" || { echo "transfer damaged: $1 $2" >&2; exit 1; }; }
# rx keeps our zero fill of the last block: compare the announced bytes.
check_prefix() { cmp -s -n "$size" "$1" "$2" || { echo "transfer damaged: $1 $2" >&2; exit 1; }; }

# Each prints the elapsed milliseconds.
ours_ours() {  # $1 file, $2 size, $3 relay options
    rm -f a b in/DST.DAT
    "$xm" relay $3 "pty:$work/a" "pty:$work/b" & relay_pid=$!
    wait_for a; wait_for b
    XM_BENCH_DEBUG=1 "$xm" send "$work/a" "$work/out/$1" 2>send.log & local sender=$!
    sleep 0.2
    local start end
    start=$(now_ns)
    XM_BENCH_DEBUG=1 "$xm" recv "$work/b" "$work/in/DST.DAT" "$2" 2>recv.log || cat recv.log >&2
    wait "$sender" || cat send.log >&2
    end=$(now_ns)
    kill "$relay_pid"; wait "$relay_pid" 2>/dev/null || true; relay_pid=""
    check "out/$1" in/DST.DAT
    echo $(( (end - start) / 1000000 ))
}

ours_rx() {
    rm -f a go in/DST.DAT
    "$xm" relay -w "$work/go" "pty:$work/a" "cmd:cd '$work/in' && exec rx -q -c DST.DAT 2>/dev/null" &
    relay_pid=$!
    wait_for a
    "$xm" send "$work/a" "$work/out/SRC.DAT" & local sender=$!
    sleep 0.2
    local start end
    start=$(now_ns)
    touch go
    wait "$relay_pid"; relay_pid=""
    wait "$sender"
    end=$(now_ns)
    check_prefix out/SRC.DAT in/DST.DAT
    echo $(( (end - start) / 1000000 ))
}

sx_ours() {
    rm -f b in/DST.DAT
    "$xm" relay "pty:$work/b" "cmd:exec sx -q -k '$work/out/SRC.DAT' 2>/dev/null" & relay_pid=$!
    wait_for b
    local start end
    start=$(now_ns)
    "$xm" recv "$work/b" "$work/in/DST.DAT" "$size"
    wait "$relay_pid"; relay_pid=""
    end=$(now_ns)
    check out/SRC.DAT in/DST.DAT
    echo $(( (end - start) / 1000000 ))
}

sx_rx() {
    rm -f in/DST.DAT
    local start end
    start=$(now_ns)
    "$xm" relay "cmd:exec sx -q -k '$work/out/SRC.DAT' 2>/dev/null" \
        "cmd:cd '$work/in' && exec rx -q -c DST.DAT 2>/dev/null"
    end=$(now_ns)
    check_prefix out/SRC.DAT in/DST.DAT
    echo $(( (end - start) / 1000000 ))
}

declare -A med
for way in ours_ours ours_rx sx_ours sx_rx; do
    times=""
    for _ in $(seq "$runs"); do
        if [ "$way" = ours_ours ]; then t=$(ours_ours SRC.DAT "$size" ""); else t=$($way); fi
        times="$times $t"
    done
    med[$way]=$(echo $times | tr ' ' '\n' | median)
done

echo "block transfer, $size bytes, 1K-CRC, median of $runs runs (->rx includes rx's ~1 s linger)"
for way in ours_ours ours_rx sx_ours sx_rx; do
    ms=${med[$way]}
    awk -v w="$way" -v ms="$ms" -v n="$size" -v ref="${med[sx_rx]}" 'BEGIN {
        printf "  %-10s %7d ms  %8.0f KiB/s  ratio to sx->rx %.2f\n", w, ms, n / 1024 / (ms / 1000), ms / ref }'
done

paced=$(ours_ours PACED.DAT "$paced_size" "-b 115200")
awk -v ms="$paced" -v n="$paced_size" 'BEGIN {
    line = n * 10 / 115200 * 1000
    printf "paced 115200 baud, %d bytes ours->ours: %d ms, line time %.0f ms, efficiency %.1f %%, %.1f ms per 1K block\n", n, ms, line, 100 * line / ms, ms / (n / 1024) }'

# The receiver answers the end of file only once the file is flushed, synced
# and renamed into place, so the sender's last wait is the receiver's
# inter-character delay (125 ms by default) plus that commit: the cost of
# the commit per transfer. Measured by the relay from the EOT to the ACK.
eot_times=""
for _ in $(seq "$runs"); do
    ours_ours PACED.DAT "$paced_size" "-e $work/eot.us" >/dev/null
    eot_times="$eot_times $(cat "$work/eot.us")"
done
eot=$(echo $eot_times | tr ' ' '\n' | median)
awk -v us="$eot" -v n="$paced_size" -v runs="$runs" 'BEGIN {
    printf "end of file answered %.1f ms after the EOT (%d bytes ours->ours, median of %d; 125 ms of it the inter-character delay, the rest the commit)\n", us / 1000, n, runs }'

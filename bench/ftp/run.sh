#!/usr/bin/env bash
# FTP throughput on loopback: our client against curl, passive mode, a
# 64 MiB file down and up, plain and over explicit TLS (curl --ssl-reqd),
# against two servers: the pyftpdlib server of the tests and vsftpd (a C
# server, so that the client is what is measured; skipped when vsftpd is
# not installed). Ours and curl alternate, five runs each; prints the
# medians in MiB/s and the ratio ours/curl. Then the cost of one small
# transfer on an open connection (control round trips and the data
# connection's set-up), median of 21, for both clients.
# Usage: bench/ftp/run.sh <folder with the release programs>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="$(cd "${1:?folder of the release programs}" && pwd)"
runs=${FTP_BENCH_RUNS:-5}
size_mib=${FTP_BENCH_MIB:-64}
small_runs=21
# Files live in memory (/dev/shm) when it is there, so that the figures
# measure the network path and not the disk: our client flushes a download
# to disk before renaming it into place, curl does not. BENCH_TMPDIR chooses
# another folder (a disk folder shows what the flush costs).
tmp_base=${BENCH_TMPDIR:-$( [ -d /dev/shm ] && [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")}
work="$(mktemp -d "$tmp_base/ftpbench.XXXXXX")"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/py" "$work/pytls" "$work/local" "$work/vs/pub" "$work/certs"
head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$work/local/up.bin"
printf x > "$work/local/one.bin"
for home in "$work/py" "$work/pytls" "$work/vs/pub"; do
  cp "$work/local/up.bin" "$home/big.bin"
  cp "$work/local/one.bin" "$home/one.bin"
done
/usr/bin/python3 "$here/../../tests/support/make_certs.py" "$work/certs"
ca="$work/certs/ca.pem"

wait_port() { for _ in $(seq 200); do [ -s "$1" ] && break; sleep 0.05; done; cat "$1"; }

/usr/bin/python3 "$here/../../tests/support/ftp_server.py" --home "$work/py" \
  --port-file "$work/py.port" 2>"$work/py.log" &
pids+=($!)
/usr/bin/python3 "$here/../../tests/support/ftp_server.py" --home "$work/pytls" \
  --port-file "$work/pytls.port" --tls explicit --cert "$work/certs/good.pem" 2>"$work/pytls.log" &
pids+=($!)
py_port=$(wait_port "$work/py.port")
pytls_port=$(wait_port "$work/pytls.port")

# vsftpd in the foreground on a free port, anonymous with uploads, TLS
# offered (plain allowed), the data connection's TLS session reused as its
# default require_ssl_reuse demands.
vs_port=""
vsftpd_bin=$(command -v vsftpd || ls /usr/sbin/vsftpd 2>/dev/null || true)
if [ -n "$vsftpd_bin" ]; then
  vs_port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  chmod 555 "$work/vs"; chmod 777 "$work/vs/pub"
  mkdir -p /var/run/vsftpd/empty 2>/dev/null || true
  cat > "$work/vsftpd.conf" <<EOF
listen=YES
listen_address=127.0.0.1
listen_port=$vs_port
background=NO
run_as_launching_user=YES
anonymous_enable=YES
no_anon_password=YES
anon_root=$work/vs
write_enable=YES
anon_upload_enable=YES
anon_other_write_enable=YES
anon_umask=022
local_enable=NO
seccomp_sandbox=NO
pasv_address=127.0.0.1
ssl_enable=YES
allow_anon_ssl=YES
force_anon_logins_ssl=NO
force_anon_data_ssl=NO
require_ssl_reuse=YES
ssl_ciphers=HIGH
rsa_cert_file=$work/certs/good.pem
rsa_private_key_file=$work/certs/good.pem
xferlog_enable=NO
EOF
  "$vsftpd_bin" "$work/vsftpd.conf" 2>"$work/vs.log" &
  pids+=($!)
  sleep 0.5
fi

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

# One transfer each, seconds without connect and login. $1 port, $2 user,
# $3 password, $4 remote folder ("" or "pub/"), $5 "tls" or "plain".
# "tls12": TLS with both clients capped at TLS 1.2 through an OpenSSL
# configuration (both use the system's OpenSSL).
curl_tls() { [ "$1" != plain ] && echo "--ssl-reqd --cacert $ca" || true; }
ours_tls() { [ "$1" != plain ] && echo "--tls explicit --cafile $ca" || true; }
cap() { [ "$1" = tls12 ] && echo "env OPENSSL_CONF=$work/tls12.cnf" || true; }
cat > "$work/tls12.cnf" <<'EOF'
openssl_conf = openssl_init
[openssl_init]
ssl_conf = ssl_sect
[ssl_sect]
system_default = system_default_sect
[system_default_sect]
MaxProtocol = TLSv1.2
EOF
curl_get() { $(cap "$5") curl -s $(curl_tls "$5") --user "$2:$3" -o "$work/local/curl.bin" -w '%{time_pretransfer} %{time_total}\n' "ftp://127.0.0.1:$1/$4big.bin" | awk '{printf "%.4f\n", $2 - $1}'; }
curl_put() { $(cap "$5") curl -s $(curl_tls "$5") --user "$2:$3" -T "$work/local/up.bin" -w '%{time_pretransfer} %{time_total}\n' "ftp://127.0.0.1:$1/$4curl-up.bin" | awk '{printf "%.4f\n", $2 - $1}'; }
ours_get() { $(cap "$5") "$bin/ftp_bench" get "$1" "$2" "$3" "$work/local/ours.bin" "$4big.bin" $(ours_tls "$5"); }
ours_put() { $(cap "$5") "$bin/ftp_bench" put "$1" "$2" "$3" "$work/local/up.bin" "$4ours-up.bin" $(ours_tls "$5"); }

# Runs ours and curl alternately, so that a change in the machine's load
# touches both alike; prints the two medians.
measure() {
  local ours=() theirs=() f=$1 g=$2
  shift 2
  for _ in $(seq "$runs"); do
    ours+=("$("$f" "$@")")
    theirs+=("$("$g" "$@")")
  done
  echo "$(printf '%s\n' "${ours[@]}" | median) $(printf '%s\n' "${theirs[@]}" | median)"
}

report() {
  local what=$1
  read -r ours theirs
  awk -v w="$what" -v o="$ours" -v t="$theirs" -v m="$size_mib" 'BEGIN {
    printf "%-26s ours %8.1f MiB/s   curl %8.1f MiB/s   ratio %.2f\n", w, m / o, m / t, t / o }'
}

# Milliseconds of one small download on an open connection: ours from
# ftp_bench rtt, curl from the second and later of several URLs on one
# command line (they reuse the connection).
curl_small() {
  local args=() i
  for i in $(seq "$small_runs"); do args+=(-o /dev/null "ftp://127.0.0.1:$1/$4one.bin"); done
  curl -s $(curl_tls "$5") --user "$2:$3" -w '%{time_total}\n' "${args[@]}" | tail -n +2 |
    awk '{printf "%.4f\n", $1 * 1000}' | median
}
ours_small() { "$bin/ftp_bench" rtt "$1" "$2" "$3" "$work/local/small.bin" "$4one.bin" --count "$small_runs" $(ours_tls "$5"); }

# $1 label, $2 what (both, down, up), then port user password folder
# plain|tls|tls12
server_round() {
  local label=$1 what=$2
  shift 2
  if [ "$what" != up ]; then
    measure ours_get curl_get "$@" | report "$label download"
    cmp -s "$work/local/up.bin" "$work/local/ours.bin" || { echo "download differs"; exit 1; }
  fi
  [ "$what" != down ] && measure ours_put curl_put "$@" | report "$label upload"
  [ "$what" != up ] &&
    small+=("$(printf '%-26s ours %6.2f ms   curl %6.2f ms' "$label small file" "$(ours_small "$@")" "$(curl_small "$@")")")
  return 0
}

# Ours alone: curl 7.88 cannot move data over TLS with pyftpdlib 1.5.7 (the
# server drops a data connection whose handshake begins before the
# transfer command, which is when curl begins it).
ours_only() {
  local label=$1 t=()
  shift
  for _ in $(seq "$runs"); do t+=("$(ours_get "$@")"); done
  printf '%s\n' "${t[@]}" | median | awk -v w="$label download" -v m="$size_mib" '{printf "%-26s ours %8.1f MiB/s   (curl fails here)\n", w, m / $1}'
  t=()
  for _ in $(seq "$runs"); do t+=("$(ours_put "$@")"); done
  printf '%s\n' "${t[@]}" | median | awk -v w="$label upload" -v m="$size_mib" '{printf "%-26s ours %8.1f MiB/s   (curl fails here)\n", w, m / $1}'
}

small=()
echo "FTP on loopback, passive, ${size_mib} MiB, median of $runs runs, files in $tmp_base"
server_round "pyftpdlib plain" both "$py_port" quay link "" plain
cmp -s "$work/local/up.bin" "$work/py/ours-up.bin" || { echo "upload differs"; exit 1; }
ours_only "pyftpdlib TLS" "$pytls_port" quay link "" tls
cmp -s "$work/local/up.bin" "$work/pytls/ours-up.bin" || { echo "TLS upload differs"; exit 1; }
if [ -n "$vs_port" ]; then
  server_round "vsftpd plain" both "$vs_port" anonymous x pub/ plain
  server_round "vsftpd TLS" down "$vs_port" anonymous x pub/ tls
  # curl 7.88 closes a TLS 1.3 upload's data connection with the server's
  # session tickets unread, so the kernel resets it and vsftpd loses the
  # tail (426): uploads compare at TLS 1.2. Ours at TLS 1.3 alone below.
  server_round "vsftpd TLS 1.2" up "$vs_port" anonymous x pub/ tls12
  cmp -s "$work/local/up.bin" "$work/vs/pub/ours-up.bin" || { echo "vsftpd upload differs"; exit 1; }
  t=()
  for _ in $(seq "$runs"); do t+=("$(ours_put "$vs_port" anonymous x pub/ tls)"); done
  printf '%s\n' "${t[@]}" | median | awk -v m="$size_mib" '{printf "%-26s ours %8.1f MiB/s   (curl fails here)\n", "vsftpd TLS 1.3 upload", m / $1}'
  cmp -s "$work/local/up.bin" "$work/vs/pub/ours-up.bin" || { echo "vsftpd TLS 1.3 upload differs"; exit 1; }
else
  echo "vsftpd not installed (tools/setup-deps.sh bench): vsftpd rounds skipped"
fi
echo "One ${small_runs}-fold small download on an open connection (median ms per transfer):"
printf '%s\n' "${small[@]}"

#!/usr/bin/env bash
# The main job of the suite, without any hardware: quaylink serves a
# scripted terminal (termsim) over a pseudo-terminal pair, uploads a file to
# a local FTP server on the terminal's behalf, and rowsmith turns the
# uploaded DATA.TXT into DEVSCAN.CSV.
# Usage: tools/demo.sh <folder with the release programs>
set -euo pipefail

src="$(cd "$(dirname "$0")/.." && pwd)"
bin="$(cd "${1:-$src/build-release/bin}" && pwd)"
demo="$(mktemp -d /tmp/quaylink-demo.XXXXXX)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

# The server runs from a folder of its own: its settings file and log live
# beside the program.
mkdir -p "$demo/server" "$demo/work" "$demo/terminal" "$demo/ftphome"
cp "$bin/quaylink" "$bin/rowsmith" "$demo/server/"

say "Line: a pseudo-terminal pair stands in for the cradle cable"
socat pty,raw,echo=0,link="$demo/tty-server" pty,raw,echo=0,link="$demo/tty-terminal" \
  2>"$demo/socat.log" &
pids+=($!)

say "Network: a local FTP server on 127.0.0.1"
/usr/bin/python3 "$src/tests/support/ftp_server.py" --home "$demo/ftphome" \
  --user demo --password demo --port-file "$demo/ftp.port" >"$demo/ftp.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  [ -s "$demo/ftp.port" ] && [ -e "$demo/tty-server" ] && break
  sleep 0.1
done
ftp_port="$(cat "$demo/ftp.port")"
echo "FTP server on 127.0.0.1:$ftp_port, serial line $demo/tty-server"

printf '[setup]\r\ncommport=%s\r\nconnect=direct\r\nbaudrate=115200\r\ninterchardelay=125\r\nworkdir=%s\r\nlogfile=CREATE\r\nlogdir=%s\r\nhost=127.0.0.1\r\nuser=demo\r\npassword=demo\r\npassive=yes\r\n' \
  "$demo/tty-server" "$demo/work" "$demo/server" >"$demo/server/quaylink.ini"
say "Settings file quaylink.ini"
tr -d '\r' <"$demo/server/quaylink.ini"

# What the terminal collected: item code and quantity per line.
{
  printf '012345678905,3\r\n'
  printf '4006381333931,12\r\n'
  printf '9780201379624,1\r\n'
  printf '5012345678900,7\r\n'
} >"$demo/terminal/DATA.TXT"

say "quaylink --console"
"$demo/server/quaylink" --console >"$demo/console.txt" 2>&1 &
server=$!
pids+=($server)
# Start the terminal once the server reads the line: bytes that arrive while
# the port is being opened could be thrown away with its input buffer.
for _ in $(seq 300); do
  grep -q "STATUS: READY" "$demo/console.txt" 2>/dev/null && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done

say "termsim plays the terminal"
cat >"$demo/session.txt" <<SESSION
LINEBID
DATETIME
:send $demo/terminal/DATA.TXT DATA.TXT
DIR,LIST.TXT
:recv LIST.TXT $demo/terminal/LIST.TXT
COPY,DATA.TXT,DATA.BAK
FTP,OPEN,127.0.0.1,demo,demo,1,$ftp_port
FTP,SEND,DATA.TXT
FTP,CLOSE
LINESTOP
SESSION
"$bin/termsim" -b 115200 -t 15000 -f "$demo/session.txt" "$demo/tty-terminal" || true

# A direct line is served once: the server ends by itself after LINESTOP.
for _ in $(seq 100); do kill -0 "$server" 2>/dev/null || break; sleep 0.1; done

say "What the server printed"
cat "$demo/console.txt"
say "The listing the terminal fetched (LIST.TXT)"
cat "$demo/terminal/LIST.TXT" 2>/dev/null || echo "(none)"
say "The activity log (quaylink.log)"
cat "$demo/server/quaylink.log" 2>/dev/null || echo "(none)"
say "FTP server home after the upload"
ls -l "$demo/ftphome"

say "rowsmith: DATA.TXT -> DEVSCAN.CSV"
"$demo/server/rowsmith" -S"$demo/work/DATA.TXT" -T"$demo/work/DEVSCAN.CSV" && echo "rowsmith: done"
say "Files in the working directory"
ls -l "$demo/work"
say "DEVSCAN.CSV"
cat "$demo/work/DEVSCAN.CSV"
echo
echo "Everything is in $demo"

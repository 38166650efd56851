#!/usr/bin/env bash
# Runs the tests of a Windows build folder under wine:
#   tests/windows/run-under-wine.sh BUILD_DIR [ctest arguments...]
#
# - a private wine prefix in BUILD_DIR/wineprefix (made on the first run,
#   about 10 s), so nothing of the user's own ~/.wine is touched;
# - one persistent wineserver for the whole run: without it every test
#   start pays about 2.5 s, and the registry (which the port discovery tests
#   write to) would not outlive a single program;
# - COM links: Windows programs cannot make pseudo-terminals, so this script
#   makes a socat pty pair and links $WINEPREFIX/dosdevices/com5 and com6 to
#   its ends, and hands the names over in the environment:
#     QL_COM_PAIR="COM5 COM6"   two COM ports joined like a null-modem cable
#     QL_COM_PULL="COM7 FILE"   a port whose cable a test may pull: it makes
#                               FILE (a Windows path); the launcher ends the
#                               pair under COM7, links a fresh one and
#                               removes FILE to say so
#   Tests that need them skip when the variables are absent. (The end-to-end
#   script makes a pair of its own, with a Linux end it drives itself.)
set -euo pipefail

build=$(cd "${1:?usage: run-under-wine.sh BUILD_DIR [ctest args]}" && pwd)
shift

export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEARCH=win64
# No downloads of wine's .NET and HTML engines: the programs need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="

links="$build/com-links"
pids=()
cleanup() {
  wineserver -k 2>/dev/null || true  # before the X server its programs draw on
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -f "$links/pull.pid" ] && kill "$(cat "$links/pull.pid")" 2>/dev/null || true
  rm -rf "$links"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# One X server for the whole run. The Windows programs of a wineserver share
# one desktop, and wine gives every program the display driver of the
# program that made that desktop first: one started without a display (any
# test, or wineboot below) would leave every later window invisible, so all
# get the same DISPLAY, from before the prefix starts. The windows' end-to-
# end test draws on it (QL_WINE_DISPLAY); without Xvfb that test skips.
unset QL_WINE_DISPLAY
if command -v Xvfb >/dev/null 2>&1; then
  rm -f "$build/xvfb.display"
  Xvfb -displayfd 9 -screen 0 1280x900x24 -nolisten tcp 9>"$build/xvfb.display" \
    >"$build/xvfb.log" 2>&1 &
  pids+=($!)
  number=""
  for _ in $(seq 200); do  # Xvfb writes its number once it listens
    number=$(tr -dc '0-9' <"$build/xvfb.display" 2>/dev/null || true)
    [ -n "$number" ] && break
    sleep 0.1
  done
  if [ -n "$number" ]; then
    export DISPLAY=":$number" QL_WINE_DISPLAY=":$number"
  else
    echo "wine: Xvfb gave no display number (see $build/xvfb.log); the windows' run will skip" >&2
    unset DISPLAY
  fi
else
  unset DISPLAY
fi

# What wine says while the prefix is made and started is kept here, and
# shown if wine then cannot run a program: otherwise a broken wine shows up
# only as every test failing without a word.
setup_log="$build/wine-setup.log"
: >"$setup_log"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine: making the test prefix in $WINEPREFIX"
  wineboot -i >>"$setup_log" 2>&1 || true
  wineserver -w
fi
wineserver -p >/dev/null 2>&1  # its own output (an object dump when killed) is noise
wineboot >>"$setup_log" 2>&1 || true  # the prefix's own start-up, once

probe=$(wine cmd.exe /c echo wine-runs 2>>"$setup_log" | tr -d '\r' || true)
if [ "$probe" != "wine-runs" ]; then
  {
    echo "wine cannot run a program in $WINEPREFIX (it printed: '$probe')."
    echo "What wine said while making and starting the prefix:"
    sed 's/^/  /' "$setup_log"
    echo "user $(id -u), prefix owner $(stat -c %u "$WINEPREFIX" 2>/dev/null || echo none)"
  } >&2
  exit 1
fi

# The socat pair; each end is linked as a COM port.
rm -rf "$links"
mkdir -p "$links"
pair() {  # pair NAME_A NAME_B
  socat pty,raw,echo=0,link="$links/$1" pty,raw,echo=0,link="$links/$2" 2>/dev/null &
  pids+=($!)
}
pair a5 b6
for _ in $(seq 100); do
  [ -e "$links/a5" ] && [ -e "$links/b6" ] && break
  sleep 0.05
done
dev="$WINEPREFIX/dosdevices"
ln -sfn "$(readlink -f "$links/a5")" "$dev/com5"
ln -sfn "$(readlink -f "$links/b6")" "$dev/com6"
export QL_COM_PAIR="COM5 COM6"

# COM7 over a pair of its own, and the watcher that pulls its cable on
# request. Ending socat closes the pty masters: the port under COM7 hangs
# up, as a cradle does when its cable is pulled.
link_pull_pair() {
  rm -f "$links/a7" "$links/b8"
  socat pty,raw,echo=0,link="$links/a7" pty,raw,echo=0,link="$links/b8" 2>/dev/null &
  echo $! >"$links/pull.pid"
  for _ in $(seq 100); do
    [ -e "$links/a7" ] && break
    sleep 0.05
  done
  ln -sfn "$(readlink -f "$links/a7")" "$dev/com7"
}
watch_pull_requests() {
  while sleep 0.1; do
    [ -e "$links/pull-com7" ] || continue
    kill "$(cat "$links/pull.pid")" 2>/dev/null || true
    sleep 0.2
    link_pull_pair
    rm -f "$links/pull-com7"
  done
}
link_pull_pair
watch_pull_requests &
pids+=($!)
export QL_COM_PULL="COM7 Z:$links/pull-com7"

cd "$build"
ctest "$@"

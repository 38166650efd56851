#!/usr/bin/env bash
# systemd-analyze verify on the template unit, as an instance, with the
# program path pointed at the built program (the unit names the installed
# one, which need not exist here). Skipped where systemd-analyze is missing.
set -u
unit=$1
program=$2
if ! command -v systemd-analyze >/dev/null; then
  echo "systemd-analyze not found: skipped"
  exit 0
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sed "s#^ExecStart=[^ ]*/quaylink #ExecStart=$program #" "$unit" > "$dir/quaylink@.service"
grep -q "^ExecStart=$program " "$dir/quaylink@.service" || { echo "FAIL: no ExecStart"; exit 1; }
# The instance is verified through a link, as systemd loads it.
ln -s "quaylink@.service" "$dir/quaylink@cradle1.service"
out=$(cd "$dir" && SYSTEMD_LOG_LEVEL=notice systemd-analyze verify --man=no \
        "$dir/quaylink@cradle1.service" 2>&1)
rc=$?
# Messages about units of the host (not ours) are not this unit's fault.
ours=$(grep -i "quaylink" <<<"$out")
if [ $rc -ne 0 ] || [ -n "$ours" ]; then
  echo "FAIL: systemd-analyze verify (status $rc):"
  echo "$out"
  exit 1
fi
# What the service must carry.
for line in "User=quaylink" "Group=dialout" "StateDirectory=quaylink/%i" \
            "ProtectSystem=strict" "ProtectHome=yes" "PrivateTmp=yes" "NoNewPrivileges=yes" \
            "DevicePolicy=closed" "DeviceAllow=char-ttyUSB rw" "Restart=always" \
            "WorkingDirectory=%S/quaylink/%i" "SystemCallFilter=@system-service" \
            "MemoryDenyWriteExecute=yes" "ProtectProc=invisible" "ProcSubset=pid" \
            "PrivateMounts=yes" "UMask=0027" \
            "ExecStart=$program --console --exit-on-failure -I/etc/quaylink/%i.ini"; do
  grep -qxF "$line" "$dir/quaylink@.service" || { echo "FAIL: missing $line"; exit 1; }
done
echo "unit verified"

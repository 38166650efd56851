#!/usr/bin/env bash
# Runs every benchmark: each folder under bench/ with a run.sh.
# Usage: bench/run-all.sh <folder with the release programs>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="$(cd "${1:-$here/../build-release/bin}" && pwd)"
for script in "$here"/*/run.sh; do
  [ -f "$script" ] || continue
  echo "== $(basename "$(dirname "$script")")"
  bash "$script" "$bin"
done

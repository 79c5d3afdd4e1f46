#!/usr/bin/env bash
# Installs what is missing, builds, and starts the tool connected to a simulated Vardelio.
# Options go to the simulated unit: --silent, --delay MS, --missing-separator, --garbage,
# --time-over, --hang-up-after N, --alter-on-store, --alter FIELD, --silent-on-read. Your own
# settings are left alone: the tool keeps its settings for this run in a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: run this from a desktop session (or set DISPLAY)." >&2
  exit 1
fi

work=$(mktemp -d)
link="$work/ttyVardelio"
build/release/tools/vardelio-unit "$link" "$@" &
unit=$!
trap 'kill "$unit" 2>/dev/null; wait "$unit" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done

mkdir -p "$work/config/vardelio"
printf '[ComPort1]\nPort=%s\n' "$link" > "$work/config/vardelio/comporttest.ini"
XDG_CONFIG_HOME="$work/config" build/release/app/vardelio

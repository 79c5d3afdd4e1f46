#!/usr/bin/env bash
# Start-up against a Qt window of one label built with the same preset: milliseconds from exec to
# the window mapped (map_probe, which stamps the clock in the child just before exec and when the
# X server's MapNotify for the program's own window can be read), the processor time its threads
# took until then, and resident memory half a second later. The program runs against the simulated unit with a settings folder of its own;
# the two alternate which goes first, on a private Xvfb display.
#   bash bench/startup.sh [runs, default 20] [build folder, default build/release] [program]
# The program defaults to the build's own; give another (an older build) to compare it.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-20}
build=${2:-build/release}
ours=${3:-$build/app/vardelio}
command -v Xvfb >/dev/null || { echo "Xvfb is needed: scripts/install-deps.sh" >&2; exit 1; }
[ -n "${3:-}" ] || cmake --build "$build" --target vardelio >/dev/null
cmake --build "$build" --target vardelio-unit one_label_window map_probe >/dev/null
probe=$build/bench/startup/map_probe
floor=$build/bench/startup/one_label_window

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

# A free display of our own: Xvfb writes the number it took.
exec 3<> <(:)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
pids+=($!)
read -r -t 10 display <&3 || { echo "Xvfb did not start" >&2; exit 1; }
exec 3<&-
"$build/tools/vardelio-unit" "$work/ttyVardelio" >/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/ttyVardelio" ] && break; sleep 0.1; done
mkdir -p "$work/config/vardelio" "$work/run"
chmod 700 "$work/run"
printf '[ComPort1]\nPort=%s\n' "$work/ttyVardelio" >"$work/config/vardelio/comporttest.ini"

one() { # prints "ms rss hwm cpu-ms wait-ms"
  env -u QT_QPA_PLATFORM DISPLAY=":$display" XDG_CONFIG_HOME="$work/config" \
    XDG_RUNTIME_DIR="$work/run" "$probe" -- "$1"
}
one "$ours" >/dev/null # the first of each reads its libraries from disk: not counted
one "$floor" >/dev/null
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for i in $(seq "$runs"); do
  if ((i % 2)); then a=$(one "$ours"); b=$(one "$floor"); else b=$(one "$floor"); a=$(one "$ours"); fi
  echo "$a $b"
done >"$work/runs"
echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"

# Columns: ours ms, rss, hwm, cpu, wait; the floor's; the ratios of time and of cpu per run.
awk '{ print $0, $1 / $6, $4 / $9 }' "$work/runs" >"$work/table"
stat() { # median (min-max) of a column
  sort -g -k"$1","$1" "$work/table" | awk -v c="$1" -v s="$2" -v f="$3" '
    { v[NR] = $c / s }
    END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf f " (" f "-" f ")", m, v[1], v[NR] }'
}
echo "$runs interleaved runs, median (range)"
row() { printf '%-17s %-20s %-20s %-20s %s\n' "$@"; }
row "" "exec to mapped, ms" "CPU until then, ms" "VmRSS, MiB" "VmHWM, MiB"
row vardelio "$(stat 1 1 %.1f)" "$(stat 4 1 %.1f)" "$(stat 2 1024 %.1f)" "$(stat 3 1024 %.1f)"
row "one-label window" "$(stat 6 1 %.1f)" "$(stat 9 1 %.1f)" "$(stat 7 1024 %.1f)" \
  "$(stat 8 1024 %.1f)"
row "ratio, paired" "$(stat 11 1 %.3f)" "$(stat 12 1 %.3f)"

#!/usr/bin/env bash
# Start-up against a Qt window of one label built with the same preset: milliseconds from exec to
# the window mapped (map_probe stamps the clock in the child just before exec, and again as soon
# as the X server's MapNotify for the program's own window can be read), the processor time its
# threads took until then, and resident memory half a second later. The program runs against
# the simulated unit with a settings folder of its own, on a private Xvfb display; the programs
# take turns, their order rotating from one run to the next.
#   bash bench/startup.sh [runs, default 20] [build folder, default build/release] [program...]
# The programs default to the build's own; give others (an older build) to compare them.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-20}
build=${2:-build/release}
programs=("${@:3}")
if [ ${#programs[@]} -eq 0 ]; then
  cmake --build "$build" --target vardelio >/dev/null
  programs=("$build/app/vardelio")
fi
command -v Xvfb >/dev/null || { echo "Xvfb is needed: scripts/install-deps.sh" >&2; exit 1; }
cmake --build "$build" --target vardelio-unit one_label_window map_probe >/dev/null
probe=$build/bench/startup/map_probe
programs+=("$build/bench/startup/one_label_window") # the floor, last

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

# Where allowed (as root), the server and the programs run ahead of other work on the machine,
# so that its load shows less in the times.
boost=()
[ "$(nice -n -10 nice 2>/dev/null)" = -10 ] && boost=(nice -n -10)
echo "priority: ${boost[*]:-as started}"

# A free display of our own: Xvfb writes the number it took.
exec 3<> <(:)
"${boost[@]}" Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
pids+=($!)
read -r -t 10 display <&3 || { echo "Xvfb did not start" >&2; exit 1; }
exec 3<&-
"$build/tools/vardelio-unit" "$work/ttyVardelio" >/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/ttyVardelio" ] && break; sleep 0.1; done
mkdir -p "$work/config/vardelio" "$work/run"
chmod 700 "$work/run"
printf '[ComPort1]\nPort=%s\n' "$work/ttyVardelio" >"$work/config/vardelio/comporttest.ini"

one() { # prints "ms rss-kib hwm-kib cpu-ms wait-ms"
  env -u QT_QPA_PLATFORM DISPLAY=":$display" XDG_CONFIG_HOME="$work/config" \
    XDG_RUNTIME_DIR="$work/run" "${boost[@]}" "$probe" -- "$1"
}
n=${#programs[@]}
for p in "${programs[@]}"; do one "$p" >/dev/null; done # reads the libraries in: not counted
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for i in $(seq 0 $((runs - 1))); do
  line=()
  for k in $(seq 0 $((n - 1))); do
    j=$(((i + k) % n))
    line[j]=$(one "${programs[j]}")
  done
  echo "${line[*]}"
done >"$work/runs"
echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"

# Five columns a program, the floor's last; then each program's time and CPU over the floor's.
awk -v n="$n" '{ f = 5 * (n - 1); r = ""
  for (k = 0; k < n - 1; k++) r = r " " $(5 * k + 1) / $(f + 1) " " $(5 * k + 4) / $(f + 4)
  print $0 r }' "$work/runs" >"$work/table"
stat() { # median (min-max) of a column, divided by $2
  sort -g -k"$1","$1" "$work/table" | awk -v c="$1" -v s="$2" -v f="$3" '
    { v[NR] = $c / s }
    END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf f " (" f "-" f ")", m, v[1], v[NR] }'
}
row() { printf '%-44s %-20s %-20s %-20s %s\n' "$@"; }
echo "$runs runs, median (range)"
row "" "exec to mapped, ms" "CPU until then, ms" "VmRSS, MiB" "VmHWM, MiB"
for k in $(seq 0 $((n - 1))); do
  c=$((5 * k))
  row "${programs[k]#"$build/"}" "$(stat $((c + 1)) 1 %.1f)" "$(stat $((c + 4)) 1 %.1f)" \
    "$(stat $((c + 2)) 1024 %.1f)" "$(stat $((c + 3)) 1024 %.1f)"
done
for k in $(seq 0 $((n - 2))); do
  c=$((5 * n + 2 * k))
  row "${programs[k]#"$build/"} / floor, paired" "$(stat $((c + 1)) 1 %.3f)" \
    "$(stat $((c + 2)) 1 %.3f)"
done

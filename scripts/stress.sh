#!/usr/bin/env bash
# Runs the threaded, pseudo-terminal and window suites over and over while every core is kept
# busy, to shake out tests that read what another thread is still writing, or let a timer
# overtake the simulated unit's answer.
#   scripts/stress.sh [rounds] [preset]     (defaults: 20 rounds, the default preset)
# Environment: STRESS_JOBS (tests at once, default: the core count), STRESS_HOG_SECONDS (the
# longest the CPU hogs may live, default 3600), STRESS_LABEL (the ctest labels to run, a
# regular expression: "threads", "window" or the default "threads|window"; under tsan only
# the threaded suites, which are the ones kept clean there).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-20}"
preset="${2:-default}"
cores="$(nproc)"
jobs="${STRESS_JOBS:-$cores}"
default_label="threads|window"
[[ "$preset" == tsan ]] && default_label="threads"
label="${STRESS_LABEL:-$default_label}"
export QT_QPA_PLATFORM=offscreen

targets=()
[[ "threads" =~ ^($label)$ ]] && targets+=(serial_tests pty_tests trace_tests)
[[ "window" =~ ^($label)$ ]] && targets+=(window_tests workflow_tests)
if ((${#targets[@]} == 0)); then
  echo "STRESS_LABEL=$label names none of the stressed suites (threads, window)" >&2
  exit 2
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target "${targets[@]}"

# One spinning process per core, each bounded in time and all killed when we leave.
hogs=()
stop_hogs() {
  for pid in "${hogs[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${hogs[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap stop_hogs EXIT INT TERM
for ((i = 0; i < cores; i++)); do
  timeout "${STRESS_HOG_SECONDS:-3600}" sh -c 'while :; do :; done' &
  hogs+=("$!")
done

echo "== $rounds rounds of the suites labelled $label ($preset) under $cores CPU hogs"
# Every passing run is left out; what fails is shown with its output.
ctest --preset "$preset" -L "^($label)$" -j "$jobs" --repeat "until-fail:$rounds" --output-on-failure \
  | grep -avE '^ *([0-9]+/[0-9]+ +)?(Start +[0-9]+:|Test +#[0-9]+: .* Passed +[0-9.]+ sec$)'

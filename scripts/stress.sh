#!/usr/bin/env bash
# Runs the threaded and pseudo-terminal suites over and over while every core is kept busy,
# to shake out tests that read what another thread is still writing.
#   scripts/stress.sh [rounds] [preset]     (defaults: 20 rounds, the default preset)
# Environment: STRESS_JOBS (tests at once, default: the core count), STRESS_HOG_SECONDS (the
# longest the CPU hogs may live, default 3600).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-20}"
preset="${2:-default}"
cores="$(nproc)"
jobs="${STRESS_JOBS:-$cores}"
export QT_QPA_PLATFORM=offscreen

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target serial_tests pty_tests

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

echo "== $rounds rounds of the threaded suites ($preset) under $cores CPU hogs"
# Every passing run is left out; what fails is shown with its output.
ctest --preset "$preset" -L threads -j "$jobs" --repeat "until-fail:$rounds" --output-on-failure \
  | grep -avE '^ *([0-9]+/[0-9]+ +)?(Start +[0-9]+:|Test +#[0-9]+: .* Passed +[0-9.]+ sec$)'

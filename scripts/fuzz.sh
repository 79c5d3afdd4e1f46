#!/usr/bin/env bash
# Runs every fuzz target for as long as asked (seconds each, default 600), one at a time, over
# its seed corpus; what the fuzzer finds stays in build/fuzz/corpus/<target>.
#   bash scripts/fuzz.sh [seconds] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(framer frames profile_file settings_text input_decoder catalog)
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for t in "${targets[@]}"; do
  mkdir -p "build/fuzz/corpus/$t"
  echo "== $t"
  "build/fuzz/fuzz/fuzz_$t" "build/fuzz/corpus/$t" "fuzz/corpus/$t" -max_total_time="$seconds" \
    -print_final_stats=1 2>&1 | grep -E "^(stat::|#[0-9]+ +DONE)|ERROR|SUMMARY" || true
done

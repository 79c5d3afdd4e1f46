#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded suites under ThreadSanitizer, the fuzz targets for a
# fixed number of runs, then a plain build, whose driver tests also run on real kernel serial
# drivers in a virtual machine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen

echo "== asan build"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

echo "== tsan build (threaded suites)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target serial_tests pty_tests trace_tests
ctest --preset tsan -L threads

echo "== fuzz targets (a fixed number of runs each, over the seed corpora)"
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
declare -A runs=([framer]=40000 [frames]=200000 [profile_file]=6000 [settings_text]=60000
                 [input_decoder]=60000 [catalog]=2000 [programming_file]=200000)
for t in framer frames profile_file settings_text input_decoder catalog programming_file; do
  found="build/fuzz/corpus/$t"
  mkdir -p "$found"
  build/fuzz/fuzz/fuzz_$t "$found" "fuzz/corpus/$t" -runs="${runs[$t]}" -seed=1 2>&1 \
    | grep -E "^Done [0-9]+ runs|ERROR|SUMMARY" | sed "s/^/$t: /"
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "$t: the fuzzer found a failure"; exit 1; }
done

echo "== default build"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default

echo "== driver lab (real serial drivers in a virtual machine)"
bash scripts/lab.sh

echo "== install"
bash scripts/install-check.sh build/default

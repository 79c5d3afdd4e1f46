#!/usr/bin/env bash
# Runs the driver tests on real kernel serial drivers inside a small virtual machine (see
# lab/lab.py; ctest label "lab"), building what they need with the default preset first.
# Arguments, if any, go to lab.py instead of ctest: --filter GTEST_FILTER, --timeout SECONDS.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${LAB_NO_BUILD:-}" != 1 ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target lab_tests vardelio-unit
fi
if [ $# -gt 0 ]; then
  exec python3 lab/lab.py build/default "$@"
fi
exec ctest --test-dir build/default -L lab --output-on-failure

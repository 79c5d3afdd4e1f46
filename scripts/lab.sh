#!/usr/bin/env bash
# Runs the driver tests on real kernel serial drivers inside a small virtual machine (see
# lab/lab.py), building what they need with the default preset first. Arguments go to lab.py:
# --filter GTEST_FILTER, --timeout SECONDS.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${LAB_NO_BUILD:-}" != 1 ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target lab_tests vardelio-unit
fi
exec python3 lab/lab.py build/default "$@"

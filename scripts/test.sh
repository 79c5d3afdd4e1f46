#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded suites under ThreadSanitizer, then a plain build.
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
cmake --build --preset tsan --target serial_tests pty_tests
ctest --preset tsan -L threads

echo "== default build"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default

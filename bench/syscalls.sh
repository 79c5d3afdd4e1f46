#!/usr/bin/env bash
# System calls per packet for each receiver, counted by strace between the bench's two markers
# (getppid), on every thread but the writer's (which names itself with gettid).
#   bash bench/syscalls.sh [build folder, default build/release]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
command -v strace >/dev/null || { s=""; [ "$(id -u)" -ne 0 ] && s=sudo; $s apt-get install -y -qq strace; }
cmake --build "$build" --target serial_bench >/dev/null
trace=$(mktemp)
trap 'rm -f "$trace"' EXIT
for peer in ours "ours window-sync" "ours none" "bare + Qt blocking" "bare + Qt send" \
  "bare + hand-over" "bare + send" "bare + post" bare qt; do
  packets=$(strace -f -qq -o "$trace" "$build/bench/serial_bench" --syscalls "$peer")
  awk -v packets="$packets" -v peer="$peer" '
    / getppid\(/ { marks++; next }
    marks == 1 && / gettid\(/ { writer = $1; next }
    marks == 1 && $1 != writer && !/resumed>/ { count++ }
    END { printf "%-18s %6.2f system calls per packet\n", peer, count / packets }
  ' "$trace"
done

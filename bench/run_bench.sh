#!/usr/bin/env bash
# Builds and runs the loop benchmark: bench/run_bench.sh [options] [job-dir ...]
# (default jobs: bench/jobs/worked, ring and outside; options
# --min-passes N, --min-seconds S). Starts its own X server (Xvfb, with
# Mesa's software OpenGL) when there is no display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cmake -S "$root" -B "$root/build" >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target loop_bench >/dev/null
if [ -z "${DISPLAY:-}" ]; then
  exec 3< <(Xvfb -displayfd 1 -screen 0 1600x1200x24 -nolisten tcp 2>/dev/null & echo "pid $!")
  read -r _ xvfb_pid <&3
  read -r display <&3
  export DISPLAY=":$display"
  trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
fi
"$root/build/bench/loop_bench" "$@"

#!/usr/bin/env bash
# Builds and runs the loop benchmark: bench/run_bench.sh [options] [job-dir ...]
# (default jobs: bench/jobs/worked, ring and outside; options
# --engines cpu,fragment,compute, --precision single|double|both, --kernels,
# --min-passes N, --min-seconds S). Starts its own X server (Xvfb, with Mesa's software
# OpenGL) when there is no display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cmake -S "$root" -B "$root/build" >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target loop_bench >/dev/null
source "$root/tools/lib.sh"
start_xvfb_if_needed
"$root/build/bench/loop_bench" "$@"

#!/usr/bin/env bash
# The test command: installs what is missing, builds, runs every test.
# The end-to-end tests start their own X server (Xvfb) with Mesa's OpenGL.
# Then the same tests built with ASan and UBSan (build-asan/), each fuzz
# harness for 20 seconds (build-fuzz/, clang), and the Windows step:
# veldspan.exe cross-built and tested under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
(cd build && ctest --output-on-failure -j"$(nproc)")
tools/run_asan_tests.sh
tools/run_fuzzers.sh 20
tools/test_windows.sh

#!/usr/bin/env bash
# The test command: installs what is missing, builds, runs every test.
# The end-to-end tests start their own X server (Xvfb) with Mesa's OpenGL.
# Then the Windows step: veldspan.exe cross-built and tested under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
(cd build && ctest --output-on-failure -j"$(nproc)")
tools/test_windows.sh

#!/usr/bin/env bash
# The Windows step of the tests: installs the cross compiler and Wine when
# they are missing, cross-builds veldspan.exe into build-win/ and runs it
# under Wine on a private Xvfb, next to the Linux program in build/
# (tests/windows/run_wine_tests.sh). Prints the time of each stage.
set -euo pipefail
cd "$(dirname "$0")/.."

stage_start=$SECONDS
stage_done() {
  echo "windows step: $1 took $((SECONDS - stage_start)) s"
  stage_start=$SECONDS
}

source tools/lib.sh
install_missing g++-mingw-w64-x86-64-win32 wine wine64 xvfb xauth xdotool
stage_done "installing what was missing"

# The Linux program is the reference the Windows one is compared with.
[ -x build/veldspan ] || tools/setup.sh
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win -j"$(nproc)"
stage_done "cross-building"

tests/windows/run_wine_tests.sh build-win build
stage_done "the Wine tests"

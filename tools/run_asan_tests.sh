#!/usr/bin/env bash
# Builds the tests and the program with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan/ and runs every test (ctest),
# the end-to-end ones with the sanitized program. Any report fails the test
# it happens in: ASan stops the program, and UBSan (float-to-integer
# overflow included) is made to stop it too. Needs what tools/setup.sh
# installs; tools/run_tests.sh runs it.
#
# NOTE: the program keeps its run buffers, job settings and shader text
# until it exits, by design, so the leak check is off for the tests of that
# code and for the program (tests/CMakeLists.txt says where).
set -euo pipefail
cd "$(dirname "$0")/.."

# -O1 and line tables only: the build costs about half of what -O2 -g does,
# and the reports still name functions and lines. GCC's maybe-uninitialized
# warning misfires inside libstdc++'s <regex> in this build; it is left out.
flags="-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_CXX_FLAGS="-O1 -g1 -Wno-maybe-uninitialized $flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
# Only what the tests run: the benchmark and the font tool stay out.
cmake --build build-asan -j"$(nproc)" --target core_tests platform_tests frame_tests e2e_tests \
  text_tests gl_text_tests gl_state_tests import_tests bench_tests engine_tests shard_tests scan_tests
export UBSAN_OPTIONS=print_stacktrace=1
# The Slurm test runs the same shards as shard_tests through Slurm's own
# daemons, and the plot test is Python: neither adds to what the sanitizers
# see, so they run in the plain build only.
(cd build-asan && ctest --output-on-failure -j"$(nproc)" -E '^(slurm_shards|PlotAperture\..*)$')

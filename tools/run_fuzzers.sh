#!/usr/bin/env bash
# Builds the fuzz harnesses in fuzz/ (clang, libFuzzer, ASan and UBSan) into
# build-fuzz/ and runs each for the given number of seconds (default 20),
# as many at a time as there are cores. Any finding (a crash, a sanitizer
# report, a leak, an input that runs past 10 s or 2 GB) fails the script;
# the input that caused it is left in build-fuzz/findings/ and its report in
# build-fuzz/logs/. Each corpus grows in build-fuzz/corpus/, seeded from the
# repository's job files, its font file and fuzz/seeds/.
#
#   tools/run_fuzzers.sh 600                       # ten minutes each
#   build-fuzz/fuzz/fuzz_shader build-fuzz/findings/shader-crash-...   # replays one input
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"

source tools/lib.sh
install_missing cmake libx11-dev libgl-dev libglu1-mesa-dev clang-14 libclang-rt-14-dev llvm-14

cmake -S . -B build-fuzz -DVELDSPAN_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzzers

# Copies seed files into a corpus, each under a name made from its path.
seed() {
  local corpus="build-fuzz/corpus/$1" file
  shift
  mkdir -p "$corpus"
  for file in "$@"; do cp "$file" "$corpus/${file//\//_}"; done
}
seed job_file examples/input.txt bench/jobs/*/input.txt
seed shader examples/input.txt bench/jobs/*/input.txt
seed font_file examples/font.dat
seed font_style fuzz/seeds/font_style/*
seed text_layout fuzz/seeds/text_layout/*
seed record fuzz/seeds/record/*
seed merge fuzz/seeds/merge/*
seed tfs fuzz/seeds/tfs/*

# llvm-symbolizer names the functions and lines of a report.
export PATH="$PATH:/usr/lib/llvm-14/bin"
rm -rf build-fuzz/logs
mkdir -p build-fuzz/findings build-fuzz/logs

# Runs one harness; its summary goes to build-fuzz/logs/NAME.result.
fuzz_one() {
  local name="$1" dict="fuzz/$1.dict" log="build-fuzz/logs/$1.log" options
  [ "$name" != shader ] || dict=fuzz/job_file.dict
  [ "$name" != merge ] || dict=fuzz/record.dict
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048
           -artifact_prefix="build-fuzz/findings/$name-" -print_final_stats=1)
  [ ! -f "$dict" ] || options+=(-dict="$dict")
  if "build-fuzz/fuzz/fuzz_$name" "${options[@]}" "build-fuzz/corpus/$name" >"$log" 2>&1; then
    echo "fuzz_$name: $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$log"), no findings" \
      >"build-fuzz/logs/$name.result"
  else
    { echo "fuzz_$name: FINDING (report in $log, input in build-fuzz/findings/):"
      grep -E -A30 '^==[0-9]+==|runtime error|ERROR: libFuzzer' "$log" | head -60
    } >"build-fuzz/logs/$name.failed"
  fi
}

# As many harnesses at a time as there are cores, each on one.
for name in job_file shader font_file font_style text_layout record merge tfs; do
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
  fuzz_one "$name" &
done
wait
cat build-fuzz/logs/*.result 2>/dev/null || true
if compgen -G "build-fuzz/logs/*.failed" >/dev/null; then
  cat build-fuzz/logs/*.failed
  exit 1
fi

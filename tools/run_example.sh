#!/usr/bin/env bash
# Runs the bundled example job (examples/input.txt) in build/example-run/,
# prints the results files it wrote and plots them (aperture.png). Starts
# its own X server when there is no display.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
run=build/example-run
rm -rf "$run" && mkdir -p "$run"
cp examples/input.txt "$run"/
[ -f examples/font.dat ] && cp examples/font.dat "$run"/
cd "$run"
source ../../tools/lib.sh
start_xvfb_if_needed
status=0
../veldspan || status=$?
echo "veldspan exit status $status; files in $(pwd):"
ls
echo "--- output.csv ---"
cat output.csv
if [ -f aperture.csv ]; then
  echo "--- aperture.csv ---"
  cat aperture.csv
  ../../tools/plot_aperture . || status=1
fi
exit "$status"

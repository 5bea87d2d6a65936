#!/usr/bin/env bash
# Runs the bundled example job (examples/input.txt) in build/example-run/
# and prints the results file it wrote. Starts its own X server when there
# is no display.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
run=build/example-run
rm -rf "$run" && mkdir -p "$run"
cp examples/input.txt "$run"/
[ -f examples/font.dat ] && cp examples/font.dat "$run"/
cd "$run"
if [ -z "${DISPLAY:-}" ]; then
  exec 3< <(Xvfb -displayfd 1 -screen 0 1600x1200x24 -nolisten tcp 2>/dev/null & echo "pid $!")
  read -r _ xvfb_pid <&3
  read -r display <&3
  export DISPLAY=":$display"
  trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
fi
status=0
../veldspan || status=$?
echo "veldspan exit status $status; files in $(pwd):"
ls
echo "--- output.csv ---"
cat output.csv
exit "$status"

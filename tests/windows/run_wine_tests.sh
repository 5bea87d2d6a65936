#!/usr/bin/env bash
# End-to-end tests of the Windows program: the real veldspan.exe under Wine
# on a private Xvfb (Mesa's software OpenGL behind Wine's WGL), in
# temporary job directories, judged by its exit status and the files it
# writes, and against the Linux program on the same jobs.
#
#   tests/windows/run_wine_tests.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
#
# Needs wine (64-bit), Xvfb and xdotool. The Wine prefix lives in
# WINDOWS_BUILD_DIR/wineprefix and is made on the first run. Ends with the
# line "N passed, N failed"; the exit status is 1 when anything failed.
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 WINDOWS_BUILD_DIR LINUX_BUILD_DIR" >&2
  exit 2
fi
win_build=$(realpath "$1")
linux_build=$(realpath "$2")
exe=$win_build/veldspan.exe
linux_exe=$linux_build/veldspan
for f in "$exe" "$linux_exe"; do
  [ -f "$f" ] || { echo "$f is missing: build it first" >&2; exit 2; }
done

export WINEPREFIX=$win_build/wineprefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

readonly WORKED_JOB='baseres 4
iterations 10 100
xcollimator -0.5 0.5
ycollimator -0.5 0.5
D 1
K 0.5 0 -2
'
# Every particle starts outside the collimators: the whole square has the
# colour of loss class 1, (0, 0, 0.5); the job runs until it is ended.
readonly ALL_LOST_JOB='baseres 4
iterations 10 100
xcollimator 2 3
ycollimator 2 3
'
readonly STAMP='[0-9]{4}-[A-Za-z]{3}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}'

xvfb_pid=""
small_disk=""  # a tmpfs mounted by a test, taken away at the end

# --- reporting ---

source "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"

show_log() {  # what the program wrote to stdout and stderr, after a failure
  echo "--- $1 ---" >&2
  cat "$1" >&2 2>/dev/null || true
}

# --- the X server and the Wine prefix ---

start_xvfb() {
  exec 3< <(Xvfb -displayfd 1 -screen 0 1600x1200x24 -nolisten tcp 2>/dev/null & echo "pid $!")
  local display
  read -r _ xvfb_pid <&3
  read -r -t 30 display <&3 || { echo "Xvfb did not start" >&2; exit 2; }
  export DISPLAY=":$display"
}

cleanup() {
  timeout 20 wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  [ -n "$small_disk" ] && umount -l "$small_disk" 2>/dev/null && rmdir "$small_disk"
  return 0
}

# NOTE: without a window manager, a managed Wine window waits about 2 s for
# one at every teardown; unmanaged windows need none. A crash must end the
# run, not wait on a dialog nobody dismisses.
prepare_prefix() {
  [ -f "$WINEPREFIX/.veldspan-ready" ] && return 0
  timeout 120 wine wineboot -i >/dev/null 2>&1 || { echo "wineboot failed" >&2; exit 2; }
  if ! timeout 30 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 ||
    ! timeout 30 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1; then
    echo "the Wine registry could not be set" >&2
    exit 2
  fi
  timeout 60 wineserver -w
  touch "$WINEPREFIX/.veldspan-ready"
}

# --- running the programs ---

new_job_dir() {  # new_job_dir JOB_TEXT: a fresh directory holding input.txt
  local dir
  dir=$(mktemp -d "$win_build/wine-test.XXXXXX")
  printf '%s' "$1" >"$dir/input.txt"
  echo "$dir"
}

run_windows() {  # run_windows DIR SECONDS [OPTION...]: runs veldspan.exe there, prints its status
  local status=0
  (cd "$1" && timeout "$2" wine "$exe" "${@:3}" >program.log 2>&1) || status=$?
  echo "$status"
}

run_linux() {  # run_linux DIR SECONDS [OPTION...]
  local status=0
  (cd "$1" && timeout "$2" "$linux_exe" "${@:3}" >program.log 2>&1) || status=$?
  echo "$status"
}

hold_key() {  # hold_key KEY SECONDS: held long enough for several passes to see it
  xdotool keydown "$1"
  sleep "$2"
  xdotool keyup "$1"
}

# NOTE: the box blocks the program until it is dismissed. The watcher waits
# for it, puts the pointer on it (without a window manager the keyboard goes
# to the window under the pointer) and presses Return until it is gone.
# Status 0 only when the box was shown.
dismiss_box_watcher() {
  # shellcheck disable=SC2016  # the script is expanded by the inner shell
  timeout 40 bash -c '
    xdotool search --sync --name "^Oh sod it$" >/dev/null || exit 1
    while id=$(xdotool search --name "^Oh sod it$" | head -n 1) && [ -n "$id" ]; do
      xdotool mousemove --window "$id" 10 10 key Return 2>/dev/null
      sleep 0.3
    done'
}

# --- file checks ---

blocks() { tail -n +2 "$1" | tr -d '\r'; }  # results after the start line, LF line ends

all_lines_crlf() {  # every line of the file ends with CR LF, and there is one
  local lines crlf
  lines=$(wc -l <"$1")
  crlf=$(grep -c $'\r$' "$1")
  [ "$lines" -gt 0 ] && [ "$lines" -eq "$crlf" ]
}

u32_at() { od -An -tu4 -j"$2" -N4 "$1" | tr -d ' '; }
bgr_at() { od -An -tu1 -j"$2" -N3 "$1" | tr -s ' ' | sed 's/^ //'; }

# Blue, green, red of window pixel (x, y from the top) in a bottom-up BMP.
bmp_pixel() {
  local file=$1 x=$2 y=$3 width height row
  width=$(u32_at "$file" 18)
  height=$(u32_at "$file" 22)
  row=$(((width * 3 + 3) / 4 * 4))
  bgr_at "$file" $((54 + (height - 1 - y) * row + x * 3))
}

is_full_window_bmp() {  # a 24-bit BMP of 1280 x 1024 pixels, sizes consistent
  [ "$(head -c 2 "$1")" = BM ] && [ "$(u32_at "$1" 18)x$(u32_at "$1" 22)" = 1280x1024 ] &&
    [ "$(stat -c %s "$1")" = 3932214 ] && [ "$(u32_at "$1" 2)" = 3932214 ] &&
    [ "$(od -An -tu2 -j28 -N2 "$1" | tr -d ' ')" = 24 ]
}

level_one_blue() {  # the colour (0, 0, 0.5) read back: blue 127 or 128
  local b g r
  read -r b g r <<<"$1"
  [ "$g" -eq 0 ] && [ "$r" -eq 0 ] && [ "$b" -ge 127 ] && [ "$b" -le 128 ]
}

# --- the tests ---

# The same job gives the same results and the same shader text on both
# builds: the same renderer gives the same pixels. Text files are written
# in text mode, so with CR LF line ends on Windows. Each engine the
# Windows program has is checked, in a window and without one.
test_worked_example_matches_linux() {  # test_worked_example_matches_linux [OPTION...]
  local win lin status before=$failed
  win=$(new_job_dir "${WORKED_JOB}maxsamples 16
")
  lin=$(new_job_dir "${WORKED_JOB}maxsamples 16
")
  status=$(run_windows "$win" 60 "$@")
  check "worked example $*: veldspan.exe exits with status 0 (got $status)" [ "$status" = 0 ] || show_log "$win/program.log"
  status=$(run_linux "$lin" 60 --engine fragment)
  check "worked example: the Linux program exits with status 0 (got $status)" [ "$status" = 0 ]
  check "worked example: output.csv starts with the dated start line" \
    grep -Eq "^Veldspan job started $STAMP"$'\r$' <(head -n 1 "$win/output.csv")
  check "worked example: two result blocks (16 samples)" [ "$(blocks "$win/output.csv" | grep -c '\^4 grid$')" = 2 ]
  check "worked example: the blocks equal the Linux program's" \
    cmp -s <(blocks "$win/output.csv") <(blocks "$lin/output.csv")
  check "worked example: output.csv has CR LF line ends" all_lines_crlf "$win/output.csv"
  check "worked example: shadercode.txt has CR LF line ends" all_lines_crlf "$win/shadercode.txt"
  check "worked example: shadercode.txt equals the Linux one" \
    cmp -s <(tr -d '\r' <"$win/shadercode.txt") "$lin/shadercode.txt"
  # aperture.csv, put in place over the first checkpoint's by the second's.
  check "worked example: aperture.csv rows equal the Linux program's" \
    cmp -s <(tail -n +2 "$win/aperture.csv" | tr -d '\r') <(tail -n +2 "$lin/aperture.csv")
  check "worked example: aperture.csv has four random passes" \
    [ "$(tr -d '\r' <"$win/aperture.csv" | awk -F, '$1 == "Domain" {print $2}')" = 4 ]
  check "worked example: aperture.csv has CR LF line ends" all_lines_crlf "$win/aperture.csv"
  check "worked example: no temporary file is left" [ ! -e "$win/aperture.csv.tmp" ]
  if [ "$failed" = "$before" ]; then rm -rf "$win" "$lin"; else diff <(blocks "$win/output.csv") <(blocks "$lin/output.csv") >&2; fi
}

# The CPU engine on a job large enough for its worker threads to share each
# sample, with the fastest kernel the processor has: the same results as
# the Linux program's CPU engine, whose levels do not depend on the machine.
test_cpu_engine_threads_match_linux() {
  local win lin status job before=$failed
  job=$'baseres 8\niterations 10 100 1000\nxrange -0.5 0.5\nxprange -0.5 0.5\nyrange -0.5 0.5\nyprange -0.5 0.5
xcollimator -1 1\nycollimator -1 1\nD 0.5\nK 1.2 0.2\nD 0.5\nK -1.2 0 0.5\nmaxsamples 16\n'
  win=$(new_job_dir "$job")
  lin=$(new_job_dir "$job")
  status=$(run_windows "$win" 60 --engine cpu --headless)
  check "CPU engine threads: veldspan.exe exits with status 0 (got $status)" [ "$status" = 0 ] ||
    show_log "$win/program.log"
  status=$(run_linux "$lin" 60 --engine cpu --headless)
  check "CPU engine threads: the Linux program exits with status 0 (got $status)" [ "$status" = 0 ]
  check "CPU engine threads: the blocks equal the Linux program's" \
    cmp -s <(blocks "$win/output.csv") <(blocks "$lin/output.csv")
  if [ "$failed" = "$before" ]; then
    rm -rf "$win" "$lin"
  else
    diff <(blocks "$win/output.csv") <(blocks "$lin/output.csv") >&2
  fi
}

# A ring's elements (a rotation with Twiss functions, a coupled matrix, skew
# and normal kicks) and emittances, in single and in double precision: the
# same blocks and the same aperture.csv, with its DA in sigma, as the Linux
# program's; in a window the fragment shader's text is the Linux one too.
test_ring_elements_match_linux() {  # test_ring_elements_match_linux OPTION...
  local win lin status job before=$failed
  job=$'baseres 8\niterations 10 100\nxcollimator -1 1\nycollimator -1 1\nR 0.31 0.28 2 -0.3 1.5 0.2
M 0.9 0.4 0.1 0 -0.45 0.9 0 0.05 0.05 0 0.8 0.5 0 0.1 -0.6 0.8\nKS 0.1 0.5 -1.2\nK 0 0.3\nemittance 0.5 0.5
maxsamples 16\n'
  win=$(new_job_dir "$job")
  lin=$(new_job_dir "$job")
  status=$(run_windows "$win" 60 "$@")
  check "ring elements $*: veldspan.exe exits with status 0 (got $status)" [ "$status" = 0 ] ||
    show_log "$win/program.log"
  status=$(run_linux "$lin" 60 "$@")
  check "ring elements $*: the Linux program exits with status 0 (got $status)" [ "$status" = 0 ]
  check "ring elements $*: the blocks equal the Linux program's" \
    cmp -s <(blocks "$win/output.csv") <(blocks "$lin/output.csv")
  check "ring elements $*: aperture.csv, with the DA in sigma, equals the Linux program's" \
    cmp -s <(tail -n +2 "$win/aperture.csv" | tr -d '\r') <(tail -n +2 "$lin/aperture.csv")
  check "ring elements $*: shadercode.txt equals the Linux one" \
    cmp -s <(tr -d '\r' <"$win/shadercode.txt") "$lin/shadercode.txt"
  if [ "$failed" = "$before" ]; then rm -rf "$win" "$lin"; fi
}

# Holding S over many passes gives one picture, each new press another; Q
# ends the run with status 0. The picture is the whole 1280 x 1024 client
# area with the square's colour at the top left.
test_screenshot_per_press_and_quit() {
  local dir pid status=0 window shots
  local before=$failed
  dir=$(new_job_dir "$ALL_LOST_JOB")
  (cd "$dir" && exec timeout 60 wine "$exe" >program.log 2>&1) &
  pid=$!
  window=$(timeout 30 xdotool search --sync --onlyvisible --name 'programming test' | head -n 1)
  check "screenshots: the window appears" [ -n "$window" ]
  [ -n "$window" ] && xdotool mousemove --window "$window" 400 300
  hold_key s 0.4
  sleep 0.7
  hold_key s 0.4
  sleep 0.3
  hold_key q 0.3
  wait "$pid" || status=$?
  check "screenshots: Q ends the run with status 0 (got $status)" [ "$status" = 0 ] || show_log "$dir/program.log"
  shots=("$dir"/screenshot[0-9][0-9][0-9][0-9][0-9].bmp)
  [ -f "${shots[0]}" ] || shots=()
  check "screenshots: one file per press of S (found ${#shots[@]})" [ "${#shots[@]}" = 2 ]
  if [ "${#shots[@]}" -gt 0 ]; then
    local shot=${shots[0]}
    check "screenshots: a 24-bit BMP of the 1280 x 1024 client area" is_full_window_bmp "$shot"
    check "screenshots: the square's colour at the top left" level_one_blue "$(bmp_pixel "$shot" 0 0)"
    check "screenshots: black right of the square" [ "$(bmp_pixel "$shot" 16 0)" = "0 0 0" ]
  fi
  if [ "$failed" = "$before" ]; then rm -rf "$dir"; fi
}

# A fatal error writes its dated line to the log (CR LF), shows the box,
# and ends the process with status 1 once the box is dismissed; Wine
# hands the program's exit status on.
fatal_case() {  # fatal_case NAME JOB MESSAGE MIN_LOG_LINES [OPTION...]
  local name=$1 dir watcher status watcher_status=0 first
  local before=$failed
  dir=$(new_job_dir "$2")
  dismiss_box_watcher &
  watcher=$!
  status=$(run_windows "$dir" 60 "${@:5}")
  wait "$watcher" || watcher_status=$?
  check "$name: exits with status 1 (got $status)" [ "$status" = 1 ] || show_log "$dir/program.log"
  check "$name: the box was shown and dismissed" [ "$watcher_status" = 0 ]
  first=$(head -n 1 "$dir/graphics_error.log" 2>/dev/null)
  check "$name: the dated message is the log's first line, CR LF" grep -Eq "^$STAMP $3"$'\r$' <<<"$first"
  check "$name: the log has at least $4 line(s)" [ "$(wc -l <"$dir/graphics_error.log" 2>/dev/null || echo 0)" -ge "$4" ]
  check "$name: the message reaches stderr too" grep -qF "$3" "$dir/program.log"
  if [ "$failed" = "$before" ]; then rm -rf "$dir"; fi
}

test_fatal_paths() {
  fatal_case "baseres 0" "baseres 0
" "baseres 0 is out of range; it must be 1 to 32" 1
  # Refused when the job is read, before the window opens: strtod reads
  # "nan" on Windows too.
  fatal_case "number that is not finite" "baseres 4
D nan
" "input.txt line 2: D value nan is not a finite number" 1
}

# Results that cannot be written end the run with status 4 and the missing
# text on stderr: output.csv a directory (the log says so), and a disk that
# fills up in the second block, which must be cut off again (and leaves no
# room for the log).
results_lost_case() {  # results_lost_case NAME DIR BLOCKS_IN_FILE MISSING_HEADER
  local name=$1 dir=$2 status log
  log=$(mktemp "$win_build/wine-test-log.XXXXXX")
  status=0
  (cd "$dir" && timeout 60 wine "$exe" >"$log" 2>&1) || status=$?
  check "$name: exits with status 4 (got $status)" [ "$status" = 4 ] || show_log "$log"
  check "$name: the missing block reaches stderr" grep -qx "$4" <(tr -d '\r' <"$log")
  if [ "$3" -gt 0 ]; then
    check "$name: output.csv holds $3 whole block(s)" [ "$(blocks "$dir/output.csv" | grep -c '\^4 grid$')" = "$3" ]
    check "$name: output.csv ends with a whole block" [ "$(tail -c 4 "$dir/output.csv" | od -An -c | tr -d ' ')" = '\r\n\r\n' ]
  fi
  rm -f "$log"
}

test_results_lost() {
  local dir before=$failed
  dir=$(new_job_dir "${ALL_LOST_JOB}maxsamples 1
")
  mkdir "$dir/output.csv"
  results_lost_case "output.csv a directory" "$dir" 0 "4^4 grid"
  check "output.csv a directory: the log says so" \
    grep -Eq "^$STAMP output.csv could not be written; the results missing from it" "$dir/graphics_error.log"
  if [ "$failed" = "$before" ]; then rm -rf "$dir"; fi
  small_disk=$(mktemp -d "$win_build/wine-disk.XXXXXX")
  if ! mount -t tmpfs -o size=8k tmpfs "$small_disk" 2>/dev/null; then
    echo "SKIPPED: the full disk (a tmpfs could not be mounted; run as root)"
    rmdir "$small_disk"
    small_disk=""
    return 0
  fi
  # One page for input.txt, one for output.csv; blocks of 300 rows fill the
  # page in the second block. The shader text and the sample record are
  # written elsewhere (through links Wine follows), and no random passes are
  # taken, so that output.csv alone meets the full disk.
  printf 'baseres 4\nxcollimator 2 3\nycollimator 2 3\niterations %s\nmaxsamples 16\nrandompasses 0\n' \
    "$(seq -s ' ' 1 300)" >"$small_disk/input.txt"
  local elsewhere
  elsewhere=$(mktemp -d "$win_build/wine-elsewhere.XXXXXX")
  ln -s "$elsewhere/shadercode.txt" "$small_disk/shadercode.txt"
  ln -s "$elsewhere/samples.rec" "$small_disk/samples.rec"
  results_lost_case "full disk" "$small_disk" 1 "8^4 grid"
  umount -l "$small_disk" && rmdir "$small_disk"
  small_disk=""
  rm -rf "$elsewhere"
}

# Two shards and their merge: the records are written with LF line ends
# (binary, like the Linux program's), and the merged output.csv equals the
# Linux program's one-process file.
test_shards_merge_like_linux() {
  local dir lin status before=$failed k
  dir=$(new_job_dir "$WORKED_JOB")
  lin=$(new_job_dir "$WORKED_JOB")
  for k in 0 1; do
    status=$(run_windows "$dir" 60 --headless --engine cpu --shard "$k/2" --max-samples 16)
    check "shard $k/2: veldspan.exe exits with status 0 (got $status)" [ "$status" = 0 ] || show_log "$dir/program.log"
  done
  check "shards: the records have LF line ends" [ "$(cat "$dir"/shard-*-of-2.rec | grep -c $'\r')" = 0 ]
  check "shards: a shard writes no output.csv" [ ! -e "$dir/output.csv" ]
  status=$(run_windows "$dir" 60 merge --samples 16 shard-0-of-2.rec shard-1-of-2.rec)
  check "merge: veldspan.exe merge exits with status 0 (got $status)" [ "$status" = 0 ] || show_log "$dir/program.log"
  status=$(run_linux "$lin" 60 --engine cpu --headless --max-samples 16)
  check "merge: the Linux program exits with status 0 (got $status)" [ "$status" = 0 ]
  check "merge: the blocks equal the Linux program's one-process blocks" \
    cmp -s <(blocks "$dir/output.csv") <(blocks "$lin/output.csv")
  if [ "$failed" = "$before" ]; then rm -rf "$dir" "$lin"; fi
}

main() {
  trap cleanup EXIT
  timeout 20 wineserver -k >/dev/null 2>&1  # one left from an interrupted run
  start_xvfb
  local start=$SECONDS
  prepare_prefix
  echo "Wine prefix ready in $((SECONDS - start)) s"
  start=$SECONDS
  test_worked_example_matches_linux
  test_worked_example_matches_linux --engine fragment
  test_worked_example_matches_linux --engine cpu --headless
  test_worked_example_matches_linux --engine fragment --headless
  test_worked_example_matches_linux --engine compute
  test_worked_example_matches_linux --engine compute --headless
  test_shards_merge_like_linux
  test_cpu_engine_threads_match_linux
  test_ring_elements_match_linux --engine cpu --headless
  test_ring_elements_match_linux --engine cpu --headless --precision double
  test_ring_elements_match_linux --engine fragment
  test_screenshot_per_press_and_quit
  test_fatal_paths
  test_results_lost
  echo "Wine tests ran in $((SECONDS - start)) s"
  report_checks
}

main

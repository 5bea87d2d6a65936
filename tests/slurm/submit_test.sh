#!/usr/bin/env bash
# tools/slurm/veldspan-submit without Slurm's daemons: a stub sbatch first on
# the PATH records its arguments and submits nothing, and the scripts it was
# given are run here as Slurm would run them, with a stub program that
# records its working directory and arguments. Job directories with hostile
# names must reach the program intact and run nothing of their own; bad
# option values, such a directory that no #SBATCH line can carry, and a
# missing sbatch are refused before anything is written. Where sbatch is
# installed, its own reading of the #SBATCH lines is checked too: sbatch -v,
# with a configuration whose controller is nowhere, prints the options it
# read, then fails to submit. The same for a scan (--scan), with a stub
# program that lists two points: each task runs its point (or its shard of
# the point), the table job merges the points whose shards all left a
# record and writes the table whether the plot can be made or not.
#
#   tests/slurm/submit_test.sh SOURCE_DIR SCRATCH
set -uo pipefail

submit=$(realpath "$1")/tools/slurm/veldspan-submit
rm -rf "$2"
mkdir -p "$2"
scratch=$(realpath "$2")
stubs=$scratch/stubs
sandbox=$scratch/sandbox  # the working directory of everything run here
export STUB_LOG=$scratch/log
mkdir -p "$stubs" "$sandbox" "$STUB_LOG" "$scratch/jobs"
real_sbatch=$(command -v sbatch || true)
# Whatever runs this test (a Slurm job too), the scripts see only the
# variables each case gives them.
unset CUDA_VISIBLE_DEVICES $(compgen -v SLURM_)


source "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"

write_stubs() {
  cat >"$stubs/sbatch" <<'EOF'
#!/usr/bin/env bash
# One submission: its arguments on one line of the log, and a job id 41, 42, ...
printf '%q ' "$@" >>"$STUB_LOG/sbatch"
echo >>"$STUB_LOG/sbatch"
echo "$((40 + $(wc -l <"$STUB_LOG/sbatch")))"
EOF
  cat >"$stubs/veldspan" <<'EOF'
#!/usr/bin/env bash
printf '%q\n' "$PWD" "$@" >"$STUB_LOG/program"
EOF
  cat >"$stubs/veldspan-scan" <<'EOF'
#!/usr/bin/env bash
# Every call on a line of its own; a scan's --list and --prepare list two
# points of a job with a scan line, and refuse any other.
{ printf '%q ' "$PWD" "$@"; echo; } >>"$STUB_LOG/calls"
if [ "$1" = scan ] && [ "$2" != --table ]; then
  grep -q '^scan ' "${!#}/input.txt" || { echo "veldspan scan: input.txt has no scan line" >&2; exit 1; }
  printf '%s\n' scan/1-1 scan/2-1
fi
EOF
  chmod +x "$stubs/sbatch" "$stubs/veldspan" "$stubs/veldspan-scan"
  printf '%s\n' ClusterName=nowhere 'SlurmctldHost=localhost(127.0.0.1)' SlurmctldPort=1 AuthType=auth/none \
    MessageTimeout=1 TCPTimeout=1 'NodeName=localhost CPUs=1' 'PartitionName=p Nodes=ALL Default=YES' \
    >"$scratch/nowhere.conf"
}

new_job() {  # new_job DIR
  mkdir -p "$1"
  printf 'baseres 4\niterations 10\n' >"$1/input.txt"
}

logged() { cmp -s "$STUB_LOG/$1" -; }  # logged STUB <EXPECTED: the stub's log is EXPECTED
sbatch_call() { printf '%q ' "$@"; echo; }
program_call() { printf '%q\n' "$sandbox" "$@"; }
only_input() { [ "$(ls -A "$1")" = input.txt ]; }
nothing_ran() {  # no file PWNED made (those found are removed, for the next case)
  local found
  found=$(find "$scratch" "$PWD" -maxdepth 3 -name 'PWNED*' -print -delete)
  [ -z "$found" ]
}

run_submit() {  # run_submit JOBDIR OPTION...: in the sandbox, its messages in the log
  (cd "$sandbox" && "$submit" "$@" >"$STUB_LOG/out" 2>&1)
}

run_script() {  # run_script SCRIPT [VARIABLE=VALUE...]: the script, as Slurm runs it
  local script=$1
  shift
  rm -f "$STUB_LOG/program"
  (cd "$sandbox" && env "$@" bash "$script" >/dev/null 2>&1)
}

sbatch_reads() {  # sbatch_reads SCRIPT OPTION: the value of OPTION that sbatch reads in SCRIPT
  (cd "$sandbox" && SLURM_CONF=$scratch/nowhere.conf "$real_sbatch" -v "$1" 2>&1) | sed -n "s/^sbatch: $2 *: //p"
}

# --- the cases ---

test_hostile_name() {  # test_hostile_name NAME
  local job=$scratch/jobs/$1 what
  what="job directory $(printf %q "$1")"
  new_job "$job"
  rm -f "$STUB_LOG"/*
  check "$what: submitted" run_submit "$job" --shards 4 --samples 64 --program "$stubs/veldspan"
  check "$what: sbatch got both scripts" logged sbatch < <(sbatch_call --parsable "$job/veldspan-shards.sbatch"
    sbatch_call --parsable --dependency=afterok:41 --kill-on-invalid-dep=yes "$job/veldspan-merge.sbatch")
  run_script "$job/veldspan-shards.sbatch" SLURM_ARRAY_TASK_ID=1 SLURM_ARRAY_JOB_ID=41
  check "$what: the task ran the program on it" logged program < <(program_call --headless --resume --shard 1/4 \
    --max-samples 64 --engine cpu "$job")
  rm -f "$STUB_LOG/sbatch"
  run_script "$job/veldspan-shards.sbatch" SLURM_ARRAY_TASK_ID=2 SLURM_ARRAY_JOB_ID=50 SLURM_ARRAY_TASK_COUNT=1 \
    SLURM_ARRAY_TASK_MIN=2
  check "$what: a rerun task submitted its merge" logged sbatch < <(sbatch_call --parsable \
    --dependency=afterok:50 --kill-on-invalid-dep=yes "$job/veldspan-merge.sbatch")
  run_script "$job/veldspan-merge.sbatch"
  check "$what: the merge ran the program on it" logged program < <(program_call merge --samples 64 --job "$job" \
    "$job"/shard-{0,1,2,3}-of-4.rec)
  check "$what: no command of its name ran" nothing_ran
  [ -n "$real_sbatch" ] || return 0
  check "$what: sbatch reads it as the working directory" [ "$(sbatch_reads "$job/veldspan-shards.sbatch" chdir)" = "$job" ]
  check "$what: sbatch reads the output file in it" \
    [ "$(sbatch_reads "$job/veldspan-merge.sbatch" output)" = "${job//%/%%}/slurm-%j-merge.out" ]
}

# refused WHAT JOBDIR OPTION...: status 2, a message, nothing written or submitted
refused() {
  local what=$1 job=$2 status
  shift 2
  rm -f "$STUB_LOG"/*
  run_submit "$job" --shards 4 --samples 64 --program "$stubs/veldspan" "$@"
  status=$?
  check "$what: status 2 (got $status)" [ "$status" = 2 ]
  check "$what: said why" grep -q "^veldspan-submit: " "$STUB_LOG/out"
  check "$what: nothing written" only_input "$job"
  check "$what: nothing submitted" [ ! -e "$STUB_LOG/sbatch" ]
}

test_refusals() {
  local job=$scratch/jobs/plain option
  new_job "$job"
  refused "--engine gpu" "$job" --engine gpu
  for option in 0 -1 2147483648 99999999999999999999 12x 1e3 ""; do
    refused "--samples \"$option\"" "$job" --samples "$option"
  done
  refused "--shards 0" "$job" --shards 0
  refused "--shards 0x10" "$job" --shards 0x10
  refused "--gpus-per-task -1" "$job" --gpus-per-task -1
  refused "--cpus-per-task 0" "$job" --cpus-per-task 0
  refused "--time soon" "$job" --time soon
  refused "--time with a command" "$job" --time '1:00;touch PWNED'
  refused "--partition with a newline" "$job" --partition $'a\nb'
  for option in $'new\nline' $'trailing newline\n' 'back\slash'; do
    new_job "$scratch/jobs/$option"
    refused "job directory $(printf %q "$option")" "$scratch/jobs/$option"
  done
  check "refusals: no command ran" nothing_ran
}

test_decimal_numbers_and_gpus() {
  local job=$scratch/jobs/decimal
  new_job "$job"
  check "--shards 08 --samples 0100: submitted" run_submit "$job" --shards 08 --samples 0100 --gpus-per-task 01 \
    --time 1-12:00:00 --partition 'gpu#"a"' --program "$stubs/veldspan"
  check "--shards 08: an array of tasks 0 to 7" grep -qx '#SBATCH --array=0-7' "$job/veldspan-shards.sbatch"
  run_script "$job/veldspan-shards.sbatch" SLURM_ARRAY_TASK_ID=7 SLURM_JOB_GPUS=3,5 CUDA_VISIBLE_DEVICES=3,5
  check "task 7 of 8 up to sample 100, on the node's GPU 3" logged program < <(program_call --headless --resume \
    --shard 7/8 --max-samples 100 --engine auto --device 3 "$job")
  [ -n "$real_sbatch" ] || return 0
  check "sbatch reads --time" [ "$(sbatch_reads "$job/veldspan-shards.sbatch" time)" = 1-12:00:00 ]
  check "sbatch reads --partition" [ "$(sbatch_reads "$job/veldspan-merge.sbatch" partition)" = 'gpu#"a"' ]
}

# The submit with a PATH of the tools it uses, sbatch not among them.
submit_without_sbatch() {
  local bin=$scratch/no-sbatch-bin tool
  mkdir -p "$bin"
  for tool in env bash realpath awk sed mv rm cat; do ln -sf "$(command -v "$tool")" "$bin/$tool"; done
  PATH=$bin run_submit "$@"
}

test_without_sbatch() {
  local job=$scratch/jobs/no-sbatch status
  new_job "$job"
  submit_without_sbatch "$job" --shards 2 --samples 8 --program "$stubs/veldspan"
  status=$?
  check "no sbatch: status 2 (got $status)" [ "$status" = 2 ]
  check "no sbatch: said so" grep -q "sbatch is not on the PATH" "$STUB_LOG/out"
  check "no sbatch: nothing written" only_input "$job"
  check "no sbatch, --dry-run: status 0" submit_without_sbatch "$job" --shards 2 --samples 8 \
    --program "$stubs/veldspan" --dry-run
  check "no sbatch, --dry-run: the task script shown" grep -q '^exec "$program"' "$STUB_LOG/out"
  check "no sbatch, --dry-run: nothing written" only_input "$job"
}

# --- scans ---

new_scan_job() {  # new_scan_job DIR
  mkdir -p "$1"
  printf 'baseres 4\niterations 10\nK 1 2\nscan 1 1 0 1 2\n' >"$1/input.txt"
}

scan_calls() { cat "$STUB_LOG/calls" 2>/dev/null; }
scan_call() { printf '%q ' "$sandbox" "$@"; echo; }

run_scan_script() {  # run_scan_script SCRIPT [VARIABLE=VALUE...]: with the program's calls afresh
  rm -f "$STUB_LOG/calls"
  run_script "$@"
}

test_scan() {  # test_scan NAME
  local job=$scratch/jobs/$1 what status
  what="scan in $(printf %q "$1")"
  new_scan_job "$job"
  rm -f "$STUB_LOG"/*
  check "$what: submitted" run_submit "$job" --scan --shards 2 --samples 16 --program "$stubs/veldspan-scan"
  check "$what: the points listed, then written" cmp -s <(scan_calls) <(scan_call scan --list --max-samples 16 "$job"
    scan_call scan --prepare --max-samples 16 "$job")
  check "$what: sbatch got the array and the table job after it, ended well or not" logged sbatch < <(
    sbatch_call --parsable "$job/veldspan-scan.sbatch"
    sbatch_call --parsable --dependency=afterany:41 --kill-on-invalid-dep=yes "$job/veldspan-scan-table.sbatch")
  check "$what: an array of 2 points x 2 shards" grep -qx '#SBATCH --array=0-3' "$job/veldspan-scan.sbatch"
  run_scan_script "$job/veldspan-scan.sbatch" SLURM_ARRAY_TASK_ID=3 SLURM_ARRAY_JOB_ID=41
  check "$what: task 3 is shard 1 of point 2-1" cmp -s <(scan_calls) <(scan_call --headless --resume --shard 1/2 \
    --max-samples 16 --engine cpu "$job/scan/2-1")
  rm -f "$STUB_LOG/sbatch"
  run_scan_script "$job/veldspan-scan.sbatch" SLURM_ARRAY_TASK_ID=2 SLURM_ARRAY_JOB_ID=50 SLURM_ARRAY_TASK_COUNT=1 \
    SLURM_ARRAY_TASK_MIN=2
  check "$what: a rerun task submitted its table job" logged sbatch < <(sbatch_call --parsable \
    --dependency=afterany:50 --kill-on-invalid-dep=yes "$job/veldspan-scan-table.sbatch")
  mkdir -p "$job/scan/1-1" "$job/scan/2-1"
  touch "$job/scan/1-1/shard-0-of-2.rec" "$job/scan/1-1/shard-1-of-2.rec" "$job/scan/2-1/shard-1-of-2.rec"
  rm -f "$STUB_LOG/calls"
  (cd "$sandbox" && bash "$job/veldspan-scan-table.sbatch" >"$STUB_LOG/table.out" 2>&1)
  status=$?
  check "$what: the table job ends with the table's status (got $status)" [ "$status" = 0 ]
  check "$what: point 1-1 merged, 2-1 (a shard missing) not, then the table" cmp -s <(scan_calls) <(scan_call merge \
    --samples 16 --job "$job/scan/1-1" "$job/scan/1-1/shard-0-of-2.rec" "$job/scan/1-1/shard-1-of-2.rec"
    scan_call scan --table --max-samples 16 --shards 2 "$job")
  check "$what: no table, no plot" grep -q "no plot: there is no scan.csv" "$STUB_LOG/table.out"
  check "$what: no command of its name ran" nothing_ran
}

test_scan_without_shards() {
  local job=$scratch/jobs/scan-whole
  new_scan_job "$job"
  check "scan without shards: submitted" run_submit "$job" --scan --samples 0100 --gpus-per-task 1 \
    --program "$stubs/veldspan-scan"
  check "scan without shards: an array of 2 points" grep -qx '#SBATCH --array=0-1' "$job/veldspan-scan.sbatch"
  run_scan_script "$job/veldspan-scan.sbatch" SLURM_ARRAY_TASK_ID=1 SLURM_JOB_GPUS=2 CUDA_VISIBLE_DEVICES=2
  check "scan without shards: task 1 runs point 2-1 whole, on the node's GPU 2" cmp -s <(scan_calls) <(scan_call \
    --headless --resume --max-samples 100 --engine auto --device 2 "$job/scan/2-1")
  echo "not a table" >"$job/scan.csv"
  rm -f "$STUB_LOG/calls"
  (cd "$sandbox" && bash "$job/veldspan-scan-table.sbatch" >"$STUB_LOG/table.out" 2>&1)
  check "scan without shards: a plot that fails leaves the table job's status alone" [ "$?" = 0 ]
  check "scan without shards: said so" grep -Eq "the plot of .* failed|no plot: python3" "$STUB_LOG/table.out"
  check "scan without shards: the table job merges nothing" cmp -s <(scan_calls) <(scan_call scan --table \
    --max-samples 100 "$job")
  check "scan --force: the points written anew" run_submit "$job" --scan --samples 16 --force \
    --program "$stubs/veldspan-scan"
  check "scan --force: passed to the program" grep -q -- '--prepare --max-samples 16 --force' "$STUB_LOG/calls"
}

# refused_scan WHAT JOBDIR OPTION...: status 2, said why, nothing written or submitted (the submit
# run by $SUBMIT, when set)
refused_scan() {
  local what=$1 job=$2 status
  shift 2
  rm -f "$STUB_LOG"/*
  ${SUBMIT:-run_submit} "$job" --program "$stubs/veldspan-scan" "$@"
  status=$?
  check "$what: status 2 (got $status)" [ "$status" = 2 ]
  check "$what: said why" grep -q "veldspan-submit" "$STUB_LOG/out"
  check "$what: nothing written" only_input "$job"
  check "$what: nothing submitted" [ ! -e "$STUB_LOG/sbatch" ]
}

test_scan_refusals() {
  local plain=$scratch/jobs/scan-refused job=$scratch/jobs/scan-ok
  new_job "$plain"
  new_scan_job "$job"
  refused_scan "a scan of a job without scan lines" "$plain" --scan --samples 16
  check "a scan of a job without scan lines: the program said why" grep -q "has no scan line" "$STUB_LOG/out"
  refused_scan "scan --shards 0" "$job" --scan --shards 0 --samples 16
  refused_scan "scan without --samples" "$job" --scan --shards 2
  refused_scan "--force without --scan" "$job" --shards 2 --samples 16 --force
  SUBMIT=submit_without_sbatch refused_scan "scan without sbatch" "$job" --scan --samples 16
  check "scan without sbatch: said so" grep -q "sbatch is not on the PATH" "$STUB_LOG/out"
}

main() {
  write_stubs
  export PATH=$stubs:$PATH
  local name
  for name in 'x$(touch${IFS}PWNED)y' 'x`touch PWNED`y' "it's" 'say "hi"' 'two  blanks ' 'a&touch PWNED&b' \
    'a;touch PWNED;b' '(a)|b' '#hash' '%A_%j 100%' '*[glob]?' '$HOME' 'é ü'; do
    test_hostile_name "$name"
  done
  test_refusals
  test_decimal_numbers_and_gpus
  test_without_sbatch
  for name in 'x$(touch${IFS}PWNED)y' "it's" 'two  blanks ' '%A_%j 100%' 'a;touch PWNED;b'; do
    test_scan "$name"
  done
  test_scan_without_shards
  test_scan_refusals
  [ -n "$real_sbatch" ] || echo "note: sbatch is not installed: its reading of the #SBATCH lines was not checked"
  report_checks
}

main

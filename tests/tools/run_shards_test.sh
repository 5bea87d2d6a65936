#!/usr/bin/env bash
# tools/run_shards.sh with a stub program (VELDSPAN) that records each call's
# arguments: a shard count or last sample that is not a number from 1 up (0
# would mean shards without end, never merged) is refused before anything
# runs or is written; numbers with a leading 0 are decimal; and job
# directories with hostile names reach every shard and the merge intact.
#
#   tests/tools/run_shards_test.sh SOURCE_DIR SCRATCH
set -uo pipefail

run_shards=$(realpath "$1")/tools/run_shards.sh
rm -rf "$2"
mkdir -p "$2"
scratch=$(realpath "$2")
export STUB_LOG=$scratch/log VELDSPAN=$scratch/veldspan
mkdir -p "$STUB_LOG" "$scratch/jobs"


source "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"

# The shards run at once: each call has a log file of its own.
cat >"$VELDSPAN" <<'EOF'
#!/usr/bin/env bash
{ printf '%q ' "$@"; echo; } >"$STUB_LOG/call.$$"
EOF
chmod +x "$VELDSPAN"

new_job() {  # new_job DIR
  mkdir -p "$1"
  echo 'baseres 4' >"$1/input.txt"
}

files_exist() { local file; for file; do [ -f "$file" ] || return 1; done; }
calls() { cat "$STUB_LOG"/call.* 2>/dev/null | sort; }  # the program's calls, one a line

expected_calls() {  # expected_calls JOBDIR N M
  local k
  for ((k = 0; k < $2; k++)); do
    printf '%q ' --headless --resume --shard "$k/$2" --max-samples "$3" --engine cpu "$1"
    echo
  done
  printf '%q ' merge --samples "$3" --job "$1"
  for ((k = 0; k < $2; k++)); do printf '%q ' "$1/shard-$k-of-$2.rec"; done
  echo
}

run() {  # run JOBDIR N M: run_shards.sh with --engine cpu, its messages in the log
  rm -f "$STUB_LOG"/*
  "$run_shards" "$1" "$2" "$3" --engine cpu 2>"$STUB_LOG/err"
}

test_refusals() {
  local job=$scratch/jobs/plain arguments status
  new_job "$job"
  for arguments in "2 0" "2 00" "0 4" "2 x" "x 4" "2 -1" "2 2147483648" "99999999999999999999 4" "2 ''"; do
    eval "run \"\$job\" $arguments"
    status=$?
    check "N M = $arguments: status 2 (got $status)" [ "$status" = 2 ]
    check "N M = $arguments: said why" grep -q '^run_shards: ' "$STUB_LOG/err"
    check "N M = $arguments: nothing ran" [ -z "$(calls)" ]
    check "N M = $arguments: nothing written" [ "$(ls -A "$job")" = input.txt ]
  done
  check "M = 0: named as no limit" eval 'run "$job" 2 0; grep -q "M is 0, no limit" "$STUB_LOG/err"'
}

test_leading_zeros_are_decimal() {
  local job=$scratch/jobs/decimal
  new_job "$job"
  check "N M = 08 010: status 0" run "$job" 08 010
  check "N M = 08 010: 8 shards up to sample 10, merged" cmp -s <(calls) <(expected_calls "$job" 8 10 | sort)
}

test_hostile_names() {
  local name job
  for name in 'x$(touch${IFS}PWNED)y' 'x`touch PWNED`y' "it's" 'say "hi"' 'a b&touch PWNED;c' '(a)|b' '*[x]?'; do
    job=$scratch/jobs/$name
    new_job "$job"
    check "$name: status 0" run "$job" 2 4
    check "$name: the shards and the merge ran on it" cmp -s <(calls) <(expected_calls "$job" 2 4 | sort)
    check "$name: the shards' logs are in it" files_exist "$job/shard-0-of-2.log" "$job/shard-1-of-2.log"
  done
  check "hostile names: no command of theirs ran" [ -z "$(find "$scratch" "$PWD" -maxdepth 3 -name 'PWNED*')" ]
}

test_refusals
test_leading_zeros_are_decimal
test_hostile_names
report_checks

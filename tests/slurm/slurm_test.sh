#!/usr/bin/env bash
# The Slurm path end to end: a private single-node Slurm (munged, slurmctld
# and slurmd started here as root, with a configuration, state, spool, logs
# and pid files under SCRATCH) runs a job split by tools/slurm/veldspan-submit
# into 4 shard tasks and a merge job, and the merged output.csv is compared
# with one process's. Then a failing task: no merged output, its rerun with
# sbatch --array=K completes the merge with the same result. Then the merge
# itself on the records: a missing shard, a duplicate, another job's record.
# Then a 2 x 2 scan submitted with --scan as 2 shards per point: a task
# that fails leaves the table job to write scan.csv without its point;
# rerun, the table equals the one "veldspan scan" writes on this machine.
# Every daemon is stopped by its pid at the end, also after a failure.
#
#   tests/slurm/slurm_test.sh SOURCE_DIR BUILD_DIR SCRATCH
#
# Exits 77 (a skip) only when the daemons cannot be had here (not root, or
# Slurm not installed), and never under CI, where they must run.
set -uo pipefail

source_dir=$(realpath "$1")
build_dir=$(realpath "$2")
# Daemons left by a run that was killed outright (no trap runs then), found
# by the pid files in its scratch folder and their names.
for name in slurmctld slurmd munged; do
  pid=$(cat "$3/$name.pid" 2>/dev/null) && grep -qx "$name" "/proc/$pid/comm" 2>/dev/null && kill -KILL "$pid"
done
rm -rf "$3"
mkdir -p "$3"
scratch=$(realpath "$3")
program=$build_dir/veldspan
submit=$source_dir/tools/slurm/veldspan-submit
readonly JOB='baseres 16
iterations 10 100
xcollimator -0.5 0.5
ycollimator -0.5 0.5
D 1
K 0.5 0 -2
'

# A 2 x 2 scan of a ring whose particles survive in part.
readonly SCAN_JOB='baseres 4
iterations 10 100
xcollimator -1 1
ycollimator -1 1
D 1
K 1 2
D 1
K -1
scan 2 1 0.8 1.2 2
scan 2 2 1 3 2
'

started=$SECONDS

source "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"

skip() {
  if [ "${CI:-}" = true ]; then
    echo "FAILED: $1 (under CI the Slurm daemons must run)" >&2
    exit 1
  fi
  echo "SKIPPED: $1"
  exit 77
}

# --- the private Slurm ---

listened_on() {  # a TCP port in the LISTEN state (0A) on any address
  grep -Eqi ":$(printf %04X "$1") [0-9A-F]+:[0-9A-F]{4} 0A" /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

free_port() {  # a TCP port nobody listens on, from a range picked by our pid
  local port=$((20000 + ($$ * 7 + $1) % 30000))
  while listened_on "$port"; do port=$((port + 2)); done
  echo "$port"
}

write_configuration() {
  local host cpus
  host=$(hostname -s)
  cpus=$(nproc)
  cat >"$scratch/slurm.conf" <<EOF
ClusterName=veldspantest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$(free_port 0)
SlurmdPort=$(free_port 1)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$scratch/munge.socket
StateSaveLocation=$scratch/state
SlurmdSpoolDir=$scratch/spool
SlurmctldPidFile=$scratch/slurmctld.pid
SlurmdPidFile=$scratch/slurmd.pid
SlurmctldLogFile=$scratch/slurmctld.log
SlurmdLogFile=$scratch/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SchedulerType=sched/backfill
SchedulerParameters=batch_sched_delay=0,sched_min_interval=0,defer_batch=0
MpiDefault=none
ReturnToService=2
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
MinJobAge=600
SlurmdTimeout=30
InactiveLimit=0
KillWait=5
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP OverSubscribe=FORCE:4
EOF
}

# A process that ended but was not reaped yet (a zombie) is not running.
running() { [ -e "/proc/$1" ] && ! grep -q '^[0-9]* (.*) Z' "/proc/$1/stat" 2>/dev/null; }

stop_slurm() {
  timeout 10 scontrol shutdown >/dev/null 2>&1
  local name pid
  for name in slurmctld slurmd munged; do
    pid=$(cat "$scratch/$name.pid" 2>/dev/null) || continue
    [ "$name" = munged ] && kill -TERM "$pid" 2>/dev/null  # the Slurm daemons first: they use it
    for _ in $(seq 50); do running "$pid" || break; sleep 0.1; done
    running "$pid" && kill -TERM "$pid" 2>/dev/null && sleep 0.5
    running "$pid" && kill -KILL "$pid" 2>/dev/null
  done
  return 0
}

start_slurm() {
  [ "$(id -u)" = 0 ] || skip "the Slurm daemons are started as root"
  local tool
  for tool in munged slurmctld slurmd sbatch scontrol sinfo; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (packages slurm-wlm, munge)"
  done
  mkdir -p "$scratch/state" "$scratch/spool"
  chmod 700 "$scratch"
  dd if=/dev/urandom of="$scratch/munge.key" bs=1024 count=1 status=none
  chmod 400 "$scratch/munge.key"
  write_configuration
  export SLURM_CONF=$scratch/slurm.conf
  trap stop_slurm EXIT
  trap 'exit 1' TERM INT HUP  # so that the daemons are stopped then too
  munged --force --key-file="$scratch/munge.key" --socket="$scratch/munge.socket" \
    --pid-file="$scratch/munged.pid" --log-file="$scratch/munged.log" --seed-file="$scratch/munge.seed" ||
    skip "munged does not start here"
  slurmctld -c || skip "slurmctld does not start here"
  slurmd -c || skip "slurmd does not start here"
  local k
  for k in $(seq 100); do
    timeout 2 sinfo -h -o %T 2>/dev/null | grep -q idle && return 0
    sleep 0.1
  done
  cat "$scratch/slurmctld.log" "$scratch/slurmd.log" >&2
  skip "the Slurm node did not come up"
}

# --- jobs ---

job_state() { timeout 5 scontrol show job "$1" 2>/dev/null | grep -o 'JobState=[A-Z_]*' | head -n 1 | cut -d= -f2; }

wait_for_jobs() {  # wait_for_jobs JOB_ID...: until none is pending or running (60 s at most)
  local id
  for _ in $(seq 600); do
    local busy=0
    for id in "$@"; do
      case "$(job_state "$id")" in PENDING | RUNNING | CONFIGURING | COMPLETING | REQUEUED) busy=1 ;; esac
    done
    [ "$busy" = 0 ] && return 0
    sleep 0.1
  done
  echo "jobs $* did not end in 60 s" >&2
  squeue >&2
  return 1
}

new_job() {  # new_job NAME: a job directory holding input.txt
  mkdir -p "$scratch/$1"
  printf '%s' "$JOB" >"$scratch/$1/input.txt"
  echo "$scratch/$1"
}

results() { tail -n +2 "$1/output.csv"; }  # output.csv without its dated first line

same_results() { cmp -s <(results "$1") <(results "$2"); }

submit_job() {  # submit_job DIR: prints "ARRAY MERGE"
  local out
  out=$("$submit" "$1" --shards 4 --samples 256 --gpus-per-task 0 --program "$program") || return 1
  echo "$(sed -n 's/^array job \([0-9]*\):.*/\1/p' <<<"$out") $(sed -n 's/^merge job \([0-9]*\):.*/\1/p' <<<"$out")"
}

# --- the cases ---

test_four_shards_merge_into_one_run() {
  local one job ids
  one=$(new_job one)
  check "one process: status 0" "$program" --headless --engine cpu --max-samples 256 "$one" 2>/dev/null
  job=$(new_job shards)
  read -r -a ids <<<"$(submit_job "$job")"
  check "submit: array and merge job ids" [ "${#ids[@]}" = 2 ]
  wait_for_jobs "${ids[@]}"
  check "4 shards: the merge job completed" [ "$(job_state "${ids[1]}")" = COMPLETED ]
  check "4 shards: output.csv equals one process's" same_results "$job" "$one"
  check "4 shards: a record per shard, each of 64 samples" \
    [ "$(cat "$job"/shard-{0,1,2,3}-of-4.rec | grep -c '^s ')" = 256 ]
}

test_failed_task_and_its_rerun() {
  local job ids rerun merge
  job=$(new_job failing)
  mkdir "$job/shard-2-of-4.rec"  # task 2 cannot resume a directory: it fails
  read -r -a ids <<<"$(submit_job "$job")"
  wait_for_jobs "${ids[@]}"
  check "failed task: the task failed" [ "$(job_state "${ids[0]}_2")" = FAILED ]
  check "failed task: the merge job was cancelled" [ "$(job_state "${ids[1]}")" = CANCELLED ]
  check "failed task: no merged output" [ ! -e "$job/output.csv" ]
  rmdir "$job/shard-2-of-4.rec"
  rerun=$(sbatch --parsable --array=2 "$job/veldspan-shards.sbatch")
  wait_for_jobs "$rerun"
  merge=$(grep -ho 'merge job [0-9]*' "$job"/slurm-"${rerun}"_2.out | cut -d' ' -f3)
  check "rerun: it submitted a merge job" [ -n "$merge" ]
  [ -n "$merge" ] && wait_for_jobs "$merge"
  check "rerun: the merge completed" [ "$(job_state "$merge")" = COMPLETED ]
  check "rerun: output.csv equals one process's" same_results "$job" "$scratch/one"
}

test_merge_refusals() {
  local job=$scratch/shards status log=$scratch/merge.log
  (cd "$job" && "$program" merge --samples 256 shard-0-of-4.rec shard-1-of-4.rec shard-3-of-4.rec 2>"$log")
  status=$?
  check "missing shard: status 3 (got $status)" [ "$status" = 3 ]
  check "missing shard: the samples are named" grep -q "64 of the 256 samples are missing: 3, 7, 11" "$log"
  check "missing shard: the block before the gap is written" [ "$(results "$job" | grep -c '\^4 grid')" = 1 ]
  (cd "$job" && "$program" merge shard-{0,1,2,3}-of-4.rec shard-1-of-4.rec 2>"$log")
  status=$?
  check "duplicate: status 1 (got $status)" [ "$status" = 1 ]
  check "duplicate: the sample is named" grep -q "sample 2 is recorded twice" "$log"
  (cd "$job" && "$program" merge shard-{0,1,2,3}-of-4.rec "$scratch/other.rec" 2>"$log")
  status=$?
  check "another job's record: status 1 (got $status)" [ "$status" = 1 ]
  check "another job's record: said so" grep -q "other.rec is the record of another job" "$log"
}

# scan.csv without its dated first line, and without the rows of point $2.
table() { tail -n +2 "$1/scan.csv" | grep -v "^${2:-none},"; }

test_scan_with_a_failed_task() {
  local here job out ids rerun table_job
  here=$scratch/scan-here
  mkdir -p "$here"
  printf '%s' "$SCAN_JOB" >"$here/input.txt"
  check "scan here: status 0" "$program" scan --engine cpu --max-samples 16 "$here" 2>/dev/null
  job=$scratch/scan
  mkdir -p "$job/scan/2-1/shard-1-of-2.rec"  # task 3, shard 1 of point 2-1, cannot resume a directory
  printf '%s' "$SCAN_JOB" >"$job/input.txt"
  out=$("$submit" "$job" --scan --shards 2 --samples 16 --gpus-per-task 0 --program "$program")
  ids=("$(sed -n 's/^array job \([0-9]*\):.*/\1/p' <<<"$out")" "$(sed -n 's/^table job \([0-9]*\):.*/\1/p' <<<"$out")")
  check "scan: array and table job ids" [ -n "${ids[0]}" ] && [ -n "${ids[1]}" ]
  wait_for_jobs "${ids[@]}"
  check "scan: task 3 failed" [ "$(job_state "${ids[0]}_3")" = FAILED ]
  check "scan: the table job ran all the same, missing a point (status 3)" [ "$(job_state "${ids[1]}")" = FAILED ]
  check "scan: the table holds the other points" cmp -s <(table "$job" 2-1) <(table "$here" 2-1)
  rmdir "$job/scan/2-1/shard-1-of-2.rec"
  rerun=$(sbatch --parsable --array=3 "$job/veldspan-scan.sbatch")
  wait_for_jobs "$rerun"
  table_job=$(grep -ho 'table job [0-9]*' "$job"/slurm-"${rerun}"_3.out | cut -d' ' -f3)
  check "scan rerun: it submitted a table job" [ -n "$table_job" ]
  [ -n "$table_job" ] && wait_for_jobs "$table_job"
  check "scan rerun: the table job completed" [ "$(job_state "$table_job")" = COMPLETED ]
  check "scan rerun: scan.csv equals the one written here" cmp -s <(table "$job") <(table "$here")
  check "scan rerun: the header and 8 rows" [ "$(table "$job" | grep -c ,)" = 9 ]
  if /usr/bin/python3 -c 'import matplotlib' 2>/dev/null; then
    check "scan rerun: the plot" [ -s "$job/scan.png" ]
  fi
}

main() {
  start_slurm
  echo "Slurm started in $((SECONDS - started)) s"
  local other
  other=$(new_job other-job)
  echo "D 0" >>"$other/input.txt"
  "$program" --headless --engine cpu --max-samples 1 "$other" 2>/dev/null
  cp "$other/samples.rec" "$scratch/other.rec"
  local stage
  for stage in test_four_shards_merge_into_one_run test_failed_task_and_its_rerun test_merge_refusals \
    test_scan_with_a_failed_task; do
    local at=$SECONDS
    $stage
    echo "$stage: $((SECONDS - at)) s"
  done
  echo "Slurm tests ran in $((SECONDS - started)) s"
  report_checks
}

main

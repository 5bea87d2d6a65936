#!/usr/bin/env bash
# Runs one job as N shards on this machine, all at once, then merges them:
#
#   tools/run_shards.sh JOBDIR N M [OPTION...]
#
# Shard K runs "veldspan --headless --resume --shard K/N --max-samples M
# [OPTION...] JOBDIR" (its messages in JOBDIR/shard-K-of-N.log); once all
# of them have ended well, "veldspan merge" writes JOBDIR/output.csv. The
# shards resume their records, so running the same command again after an
# interruption goes on where it stopped. SIGTERM or Ctrl-C stops every
# shard cleanly. The program is build/veldspan, or $VELDSPAN.
#
# N and M are whole decimal numbers from 1 to 2147483647 (08 is 8): M is
# the run's last sample, and needed, since shards without one would never
# end and so never be merged. A bad N or M is refused with status 2 before
# anything is written.
set -uo pipefail

usage() {  # the comment above, from its second line to its last
  awk 'NR > 1 && !/^#/ { exit } NR > 1' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

refuse() {
  echo "run_shards: $*; nothing was run (usage: tools/run_shards.sh JOBDIR N M [OPTION...])" >&2
  exit 2
}

# read_count NAME WHAT VALUE: NAME=VALUE, a decimal number from 1 to 2^31 - 1
# (the program's range). NOTE: bash's arithmetic reads a leading 0 as octal
# and wraps past 2^63: the digits are checked and their leading zeros
# dropped before any arithmetic sees them.
read_count() {
  [[ "$3" =~ ^0*([0-9]+)$ ]] || refuse "$2 must be a whole number, not \"$3\""
  local digits=${BASH_REMATCH[1]}
  if [ "${#digits}" -gt 10 ] || [ "$digits" -gt 2147483647 ] || [ "$digits" -lt 1 ]; then
    refuse "$2 must be from 1 to 2147483647, not $3"
  fi
  printf -v "$1" %s "$digits"
}

[ $# -ge 3 ] || usage
job_dir=$1
read_count shards "the number of shards N" "$2"
[[ "$3" =~ ^0+$ ]] && refuse "M is 0, no limit: the shards would never end, so never be merged; give the run's last sample"
read_count samples "the last sample M" "$3"
shift 3
[ -d "$job_dir" ] || refuse "$job_dir is not a directory"
program=${VELDSPAN:-$(dirname "$(realpath "$0")")/../build/veldspan}
[ -x "$program" ] || { echo "run_shards: $program is missing: build it first" >&2; exit 2; }

pids=()
stop_shards() { kill -TERM "${pids[@]}" 2>/dev/null; }
trap stop_shards TERM INT
for ((k = 0; k < shards; k++)); do
  "$program" --headless --resume --shard "$k/$shards" --max-samples "$samples" "$@" "$job_dir" \
    2>"$job_dir/shard-$k-of-$shards.log" &
  pids+=($!)
done
failed=0
for ((k = 0; k < shards; k++)); do
  status=0
  wait "${pids[k]}" || status=$?
  # NOTE: a wait cut short by the trap is waited for again: the shard is
  # still writing its last sample.
  while [ "$status" -gt 128 ] && kill -0 "${pids[k]}" 2>/dev/null; do
    status=0
    wait "${pids[k]}" || status=$?
  done
  if [ "$status" != 0 ]; then
    echo "run_shards: shard $k/$shards ended with status $status (see $job_dir/shard-$k-of-$shards.log)" >&2
    failed=$status
  fi
done
if [ "$failed" != 0 ]; then
  echo "run_shards: no merge; the same command resumes the shards" >&2
  exit "$failed"
fi
records=()
for ((k = 0; k < shards; k++)); do records+=("$job_dir/shard-$k-of-$shards.rec"); done
"$program" merge --samples "$samples" --job "$job_dir" "${records[@]}"

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
set -uo pipefail
if [ $# -lt 3 ] || ! [[ "$2" =~ ^[0-9]+$ && "$3" =~ ^[0-9]+$ ]] || [ "$2" -lt 1 ]; then
  sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
job_dir=$1 shards=$2 samples=$3
shift 3
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

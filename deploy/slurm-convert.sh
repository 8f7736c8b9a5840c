#!/usr/bin/env bash
# A large conversion as a Slurm job array: every array task converts one
# shard of the same file list; together they write what one run would.
#
#   sbatch --array=0-15 deploy/slurm-convert.sh /shared/in /shared/out [OPTION...]
#
# OPTIONs go to lumaro as they are (--settings FILE, --format jpeg,
# --set General.IncludingSubfolders=1 ...). Every task appends its report to
# $REPORTS/shard-<task>.jsonl. To resume after a lost node or the time limit,
# submit the same command again: files whose output is newer than their
# source are skipped. Any array range works (0-15, 1-16, 0-30:2): --shard
# auto counts the tasks from the first one.
#SBATCH --job-name=lumaro-convert
#SBATCH --cpus-per-task=4
#SBATCH --mem-per-cpu=1G
#SBATCH --time=12:00:00
#SBATCH --output=lumaro-%A_%a.log
#SBATCH --requeue
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: sbatch --array=0-(N-1) $0 INPUT OUTPUT [OPTION...]" >&2
  exit 2
fi
IN=$1
OUT=$2
shift 2
LUMARO=${LUMARO:-lumaro}
REPORTS=${REPORTS:-$PWD/lumaro-reports}
mkdir -p "$REPORTS"

# --shard auto reads SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT.
# Exit status: 0 all converted or skipped, 1 some files failed (see the
# report), 2 usage error.
exec "$LUMARO" --convert --quiet --shard auto --skip-existing \
  --jobs "${SLURM_CPUS_PER_TASK:-1}" \
  --report "$REPORTS/shard-${SLURM_ARRAY_TASK_ID:-0}.jsonl" \
  --output "$OUT" "$@" -- "$IN"

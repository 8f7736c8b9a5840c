#!/usr/bin/env bash
# Compares our Lanczos resize with libvips on the same picture and job:
# 4000x3000 RGB to 1600x1200 (scale 0.4), one thread each.
#
#   bench/resample.sh [BUILD_DIR] [RUNS]
#
# Ours: CImage::Resample2 (interpolation 6, Lanczos), timed in process around
# the call only; the picture is generated in memory.
# vips: `VIPS_CONCURRENCY=1 vips resize in.v out.v 0.4 --kernel lanczos3`,
# timed as a whole command. The same picture is handed to it in vips' own
# uncompressed format (.v, memory-mapped), so no decoding or encoding is
# involved, but its figure still includes starting the process, reading
# the 36 MB input and writing the 5.8 MB result.
# Both figures are medians of RUNS runs (default 9), after one warm-up run,
# as wall-clock time and as processor time (user + system; steadier when
# the machine is busy with other work).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
runs=${2:-9}

if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DLUMARO_BUILD_UI=OFF >/dev/null
fi
if ! log=$(cmake --build "$build" --target resample_bench 2>&1); then
  echo "$log" >&2
  exit 1
fi
bench="$build/bench/resample_bench"
command -v vips >/dev/null || { echo "vips is not installed (libvips-tools)" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$bench" --runs 1 --write-ppm "$tmp/in.ppm" >/dev/null
vips copy "$tmp/in.ppm" "$tmp/in.v"

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

read -r ours ours_cpu < <("$bench" --runs "$runs")

TIMEFORMAT='%R %U %S'
run_vips() { VIPS_CONCURRENCY=1 vips resize "$tmp/in.v" "$tmp/out.v" 0.4 --kernel lanczos3; }
run_vips
wall=() cpu=()
for ((i = 0; i < runs; i++)); do
  read -r r u s < <({ time run_vips; } 2>&1)
  wall+=("$r")
  cpu+=("$(awk -v u="$u" -v s="$s" 'BEGIN {printf "%.3f", u + s}')")
done
vips=$(printf '%s\n' "${wall[@]}" | median)
vips_cpu=$(printf '%s\n' "${cpu[@]}" | median)
size=$(vipsheader "$tmp/out.v" | sed 's/^[^:]*: //; s/ .*//')

echo "job: 4000x3000 RGB -> 1600x1200, Lanczos 3 lobes, single thread, median of $runs runs"
printf '%-56s %-9s %s\n' "" "wall s" "processor s"
printf '%-56s %-9s %s\n' "ours (Resample2 in process, no file I/O):" "$ours" "$ours_cpu"
printf '%-56s %-9s %s\n' "vips resize (whole command, .v in and out, $size):" "$vips" "$vips_cpu"
awk -v a="$ours" -v b="$vips" -v c="$ours_cpu" -v d="$vips_cpu" 'BEGIN {
  printf "ratio ours / vips: %.2f wall, %.2f processor (the requirement is at most 1.50)\n", a / b, c / d }'

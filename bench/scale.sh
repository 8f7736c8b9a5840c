#!/usr/bin/env bash
# Batch mode at scale, by hand:
#   1. the T1 job (24 JPEGs of 4000x3000 fitted into 1600x1600, quality 85)
#      as 4 shard processes at once against one run with --jobs 2;
#   2. --skip-existing over a fully converted tree of small files: the time
#      to decide that nothing is left to do.
#
#   bench/scale.sh [LUMARO] [ROUNDS] [FILES]    e.g. bench/scale.sh build/bin/lumaro 3 10000
set -euo pipefail
cd "$(dirname "$0")/.."
LUMARO=$(realpath "${1:-build/bin/lumaro}")
ROUNDS=${2:-3}
FILES=${3:-10000}
OUT=$PWD/bench/out/scale
CORPUS=$PWD/bench/corpus/jpeg
bash bench/make-corpus >/dev/null
rm -rf "$OUT"
mkdir -p "$OUT"
SETTINGS=$OUT/settings.ini
printf '[General]\nBackup=0\n' > "$SETTINGS"
T1=(--format jpeg --set JPEG.Quality=85 --set Dimensions.PercentsOrPixels=1
    --set Dimensions.Width=1600 --set Dimensions.Height=1600 --set Dimensions.nResamplingMode=5)

lumaro() { "$LUMARO" --convert --quiet --settings "$SETTINGS" "$@"; }
now() { date +%s.%N; }
median() { sort -n | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }

one_run() {
  rm -rf "$OUT/one"
  local t0; t0=$(now)
  lumaro --jobs 2 --output "$OUT/one" "${T1[@]}" "$CORPUS" >/dev/null
  echo "$(now) - $t0" | bc
}
four_shards() {
  rm -rf "$OUT/shards"
  local t0; t0=$(now)
  for i in 0 1 2 3; do
    lumaro --jobs 1 --shard "$i/4" --output "$OUT/shards" "${T1[@]}" "$CORPUS" >/dev/null &
  done
  wait
  echo "$(now) - $t0" | bc
}

n=$(ls "$CORPUS" | wc -l)
one=() shards=()
for ((r = 0; r < ROUNDS; r++)); do
  # Alternate which goes first.
  if ((r % 2)); then shards+=("$(four_shards)"); one+=("$(one_run)");
  else one+=("$(one_run)"); shards+=("$(four_shards)"); fi
done
cmp_out=$(diff -r "$OUT/one" "$OUT/shards" >/dev/null && echo "identical" || echo "DIFFERENT")
t_one=$(printf '%s\n' "${one[@]}" | median)
t_sh=$(printf '%s\n' "${shards[@]}" | median)
printf 'T1, %d pictures, %d cores, median of %d rounds (outputs %s):\n' "$n" "$(nproc)" "$ROUNDS" "$cmp_out"
printf '  one run --jobs 2        %6.2f s  %5.2f pictures/s\n' "$t_one" "$(echo "$n / $t_one" | bc -l)"
printf '  4 shards, --jobs 1 each %6.2f s  %5.2f pictures/s\n' "$t_sh" "$(echo "$n / $t_sh" | bc -l)"

# A tree of FILES small PNGs in 100 folders, converted once.
TREE=$OUT/tree
mkdir -p "$TREE/in"
/usr/bin/convert-im6.q16 -size 16x16 plasma: "$OUT/seed.png"
for ((d = 0; d < 100; d++)); do
  mkdir -p "$TREE/in/d$d"
  for ((f = 0; f < FILES / 100; f++)); do cp "$OUT/seed.png" "$TREE/in/d$d/f$f.png"; done
done
KEEP=(--format png --set General.IncludingSubfolders=1 --set General.KeepSubfoldersStructure=1)
lumaro --skip-existing --output "$TREE/out" "${KEEP[@]}" "$TREE/in" >/dev/null
skip=()
for ((r = 0; r < ROUNDS; r++)); do
  t0=$(now)
  summary=$(lumaro --skip-existing --output "$TREE/out" "${KEEP[@]}" "$TREE/in")
  skip+=("$(echo "$(now) - $t0" | bc)")
done
printf -- '--skip-existing over %d converted files: %s  median %.3f s\n' "$FILES" "$summary" \
  "$(printf '%s\n' "${skip[@]}" | median)"

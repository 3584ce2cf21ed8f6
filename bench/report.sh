#!/usr/bin/env bash
# What --report adds to a run: processor time per photo with and without it,
# for both assessors, and the report folder's size per photo.
#
# Usage: bench/report.sh         (BENCH_REPEATS=N to change the 5 repeats)
#
# Builds build-bench/ and makes the photo sets as bench/run.sh does (the
# Debian package lomiri-wallpapers-16.04 unpacked into bench/data/, not in
# git), then times, in one time_runs call per set so that the runs take turns:
#   lumvet --jobs=1 --format=tsv DIR                     (plain)
#   lumvet --jobs=1 --format=tsv --report=TMP DIR         (with the report)
# for the contrast assessor (--seed=1) and --assessor=sharpness. Every time is
# the minimum of the repeats; processor time (user + system) decides. Peak
# memory is the largest resident size of the repeats.
set -euo pipefail
cd "$(dirname "$0")/.."

REPEATS="${BENCH_REPEATS:-5}"
BUILD=build-bench
DATA=bench/data
PHOTOS="$DATA/photos"
SETS=(baseline 12mp original)

echo "== build"
scripts/setup.sh "$BUILD" -DLUMVET_BUILD_BENCHMARKS=ON -DLUMVET_BUILD_TESTS=OFF >/dev/null
LUMVET="$BUILD/cli/lumvet"
TIMER="$BUILD/bench/cli/time_runs"

echo "== photos"
mkdir -p "$DATA"
if ! ls "$DATA"/lomiri-wallpapers-16.04_*.deb >/dev/null 2>&1; then
  (cd "$DATA" && apt-get download lomiri-wallpapers-16.04 2>/dev/null)
fi
if [ ! -d "$DATA/pkg/usr/share/backgrounds" ]; then
  dpkg -x "$(ls "$DATA"/lomiri-wallpapers-16.04_*.deb | head -1)" "$DATA/pkg"
fi
"$BUILD/bench/imaging/make_bench_photos" "$DATA/pkg/usr/share/backgrounds" "$PHOTOS"
cat "$PHOTOS"/*/*.jpg >/dev/null

echo "== machine"
echo "  CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) cores online"

OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
count_jpg() { find "$@" -maxdepth 1 -iname '*.jpg' | wc -l; }
per() { awk -v ms="$1" -v n="$2" 'BEGIN { printf "%.1f", ms / n }'; }
extra() { awk -v a="$1" -v b="$2" -v n="$3" 'BEGIN { printf "%.1f", (b - a) / n }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b / a }'; }

echo "== processor time per photo, one thread, min of $REPEATS runs"
printf '  %-10s %-9s %6s %9s %9s %9s %7s %11s %9s %9s\n' set assessor photos plain report extra ratio "KB/photo" plain report
printf '  %-10s %-9s %6s %9s %9s %9s %7s %11s %9s %9s\n' "" "" "" "cpu ms" "cpu ms" "cpu ms" "" "" "peak MB" "peak MB"
for set in "${SETS[@]}"; do
  dir="$PHOTOS/$set"
  n=$(count_jpg "$dir")
  mapfile -t t < <("$TIMER" "$REPEATS" "$LUMVET" --jobs=1 --seed=1 --format=tsv "$dir" ::: \
    "$LUMVET" --jobs=1 --seed=1 --format=tsv --report="$OUT/c-$set" "$dir" ::: \
    "$LUMVET" --assessor=sharpness --jobs=1 --format=tsv "$dir" ::: \
    "$LUMVET" --assessor=sharpness --jobs=1 --format=tsv --report="$OUT/s-$set" "$dir")
  for a in contrast sharpness; do
    if [ $a = contrast ]; then p=(${t[0]}) r=(${t[1]}) d="$OUT/c-$set"; else p=(${t[2]}) r=(${t[3]}) d="$OUT/s-$set"; fi
    kb=$(du -sk "$d" | cut -f1)
    printf '  %-10s %-9s %6d %9s %9s %9s %7s %11s %9s %9s\n' "$set" "$a" "$n" "$(per "${p[2]}" "$n")" \
      "$(per "${r[2]}" "$n")" "$(extra "${p[2]}" "${r[2]}" "$n")" "$(ratio "${p[2]}" "${r[2]}")" \
      "$(awk -v k="$kb" -v n="$n" 'BEGIN { printf "%.1f", k / n }')" "${p[4]}" "${r[4]}"
  done
done

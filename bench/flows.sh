#!/usr/bin/env bash
# What file lists and the progress line cost against the plain folder scan.
#
# Usage: bench/flows.sh          (BENCH_REPEATS=N to change the 5 repeats,
#                                 BENCH_COPIES=N the 24 copies of each sample)
#
# 1. Installs what is missing (scripts/setup.sh) and builds lumvet and
#    bench/cli/time_runs in build-bench/.
# 2. Copies the bundled samples (1.5 megapixels, the smallest photos lumvet is
#    likely to meet, so that any cost per photo shows most) BENCH_COPIES times
#    into bench/data/flows/ (not in git), and writes a NUL-separated list of them.
# 3. Times, in turn in one time_runs call (processor time, the minimum of the
#    repeats; every ratio from this one run), all at --jobs=1 with --format=tsv:
#    - plain:      lumvet DIR
#    - list:       lumvet -0 --files-from=LIST (the same photos in the same order)
#    - terminal:   lumvet DIR with standard error on a pseudo-terminal (script(1))
#                  and the progress line drawn (first after half a second, then
#                  four times a second); standard output to /dev/null
#    - quiet:      the same under script(1) with --quiet, so that script's own
#                  cost cancels out of the progress ratio.
set -euo pipefail
cd "$(dirname "$0")/.."

REPEATS="${BENCH_REPEATS:-5}"
COPIES="${BENCH_COPIES:-24}"
BUILD=build-bench
DATA=bench/data/flows

echo "== build"
LUMVET_SETUP_TARGET=lumvet scripts/setup.sh "$BUILD" -DLUMVET_BUILD_BENCHMARKS=ON \
  -DLUMVET_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target time_runs >/dev/null
LUMVET="$PWD/$BUILD/cli/lumvet"
TIMER="$BUILD/bench/cli/time_runs"

echo "== photos"
rm -rf "$DATA"
mkdir -p "$DATA/photos"
for ((i = 0; i < COPIES; i++)); do
  for f in samples/*.jpg; do
    cp "$f" "$DATA/photos/$(printf '%03d' "$i")_$(basename "$f")"
  done
done
# The folder scan's order (byte order of the names) for the list too.
(cd "$DATA/photos" && LC_ALL=C ls) | while IFS= read -r name; do
  printf '%s\0' "$DATA/photos/$name"
done >"$DATA/photos.list"
n=$(find "$DATA/photos" -name '*.jpg' | wc -l)
cat "$DATA"/photos/*.jpg >/dev/null  # warm the page cache

echo "== machine"
echo "  CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) cores online"

run_on_terminal() { script -qec "$*" /dev/null; }
common="--jobs=1 --seed=1 --format=tsv"
mapfile -t t < <("$TIMER" "$REPEATS" "$LUMVET" $common "$DATA/photos" ::: \
  "$LUMVET" $common -0 --files-from="$DATA/photos.list" ::: \
  bash -c "$(declare -f run_on_terminal); run_on_terminal '$LUMVET' $common '$DATA/photos' '>/dev/null'" ::: \
  bash -c "$(declare -f run_on_terminal); run_on_terminal '$LUMVET' --quiet $common '$DATA/photos' '>/dev/null'")

# The outputs must agree before the times mean anything.
a=$("$LUMVET" $common "$DATA/photos" | md5sum)
b=$("$LUMVET" $common -0 --files-from="$DATA/photos.list" | md5sum)
[ "$a" = "$b" ] || { echo "list run differs from the folder scan" >&2; exit 1; }

cpu() { local x=($1); echo "${x[2]}"; }
plain=$(cpu "${t[0]}") list=$(cpu "${t[1]}") term=$(cpu "${t[2]}") quiet=$(cpu "${t[3]}")
awk -v n="$n" -v p="$plain" -v l="$list" -v t="$term" -v q="$quiet" -v r="$REPEATS" 'BEGIN {
  printf "== %d photos, processor time, min of %d (ms per photo)\n", n, r
  printf "  plain folder scan            %7.3f\n", p / n
  printf "  --files-from list            %7.3f   list / plain          %.3f\n", l / n, l / p
  printf "  on a terminal, progress      %7.3f   progress / quiet      %.3f\n", t / n, t / q
  printf "  on a terminal, --quiet       %7.3f   progress / plain      %.3f\n", q / n, t / p
}'

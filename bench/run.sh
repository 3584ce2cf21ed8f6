#!/usr/bin/env bash
# lumvet's speed against the decode floor, on real camera-size photos.
#
# Usage: bench/run.sh            (BENCH_REPEATS=N to change the 7 repeats)
#
# 1. Installs what is missing (scripts/setup.sh) and builds a Release tree with
#    the benchmark programs in build-bench/.
# 2. Fetches the Debian package lomiri-wallpapers-16.04 (apt-get download) into
#    bench/data/ (not in git) and unpacks the full-size originals of the bundled
#    samples; make_bench_photos derives baseline, 12-, 24-megapixel and
#    progressive sets from them.
# 3. Prints, with every time the minimum of the repeats (bench/cli/time_runs runs
#    the commands in turn) and every ratio taken from times measured in this run:
#    - one thread: lumvet's time per photo against the decode floor (decode_floor:
#      libjpeg-turbo with lumvet's settings decoding the same files into a rolling
#      row buffer and discarding the rows); target at most 1.10;
#    - the same for lumvet --assessor=sharpness --jobs=1, timed in the same runs
#      as the floor and the contrast assessor; target at most 1.5;
#    - every core: lumvet --jobs=N against the decode floor on N threads over the
#      same files, as throughput; target at least 0.9;
#    - lumvet's peak resident memory at one thread, with either assessor, on
#      12-megapixel baseline JPEGs and on progressive ones, and the size of one
#      full-frame bitmap of the 12-megapixel photos (the sharpness assessor's
#      bound);
#    - the ratio to the OpenCV "variance of the Laplacian" check, when
#      python3-opencv is installed (this script does not install it);
#    - the cost of the patch statistics per visited pixel.
set -euo pipefail
cd "$(dirname "$0")/.."

REPEATS="${BENCH_REPEATS:-7}"
BUILD=build-bench
DATA=bench/data
PHOTOS="$DATA/photos"
SETS=(baseline 12mp 24mp original 24mp_progressive)

echo "== build"
scripts/setup.sh "$BUILD" -DLUMVET_BUILD_BENCHMARKS=ON -DLUMVET_BUILD_TESTS=OFF >/dev/null
LUMVET="$BUILD/cli/lumvet"
FLOOR="$BUILD/bench/imaging/decode_floor"

# /usr/bin/time (Debian package time) measures peak resident memory.
if [ ! -x /usr/bin/time ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq time >/dev/null || true
fi

echo "== photos"
mkdir -p "$DATA"
if ! ls "$DATA"/lomiri-wallpapers-16.04_*.deb >/dev/null 2>&1; then
  (cd "$DATA" && apt-get download lomiri-wallpapers-16.04 2>/dev/null)
fi
if [ ! -d "$DATA/pkg/usr/share/backgrounds" ]; then
  dpkg -x "$(ls "$DATA"/lomiri-wallpapers-16.04_*.deb | head -1)" "$DATA/pkg"
fi
"$BUILD/bench/imaging/make_bench_photos" "$DATA/pkg/usr/share/backgrounds" "$PHOTOS"

echo "== machine"
echo "  CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) cores online"
echo "  libjpeg-turbo $(dpkg-query -W -f='${Version}' libjpeg62-turbo 2>/dev/null || echo '?')"

TIMER="$BUILD/bench/cli/time_runs"
count_jpg() { find "$@" -maxdepth 1 -iname '*.jpg' | wc -l; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
per() { awk -v ms="$1" -v n="$2" 'BEGIN { printf "%.1f", ms / n }'; }

# Warm the page cache so that every run reads from memory.
cat "$PHOTOS"/*/*.jpg >/dev/null

# time_runs prints, per command: wall min, wall median, cpu min, cpu median (ms).
echo "== one thread: lumvet --jobs=1 against the decode floor, per photo (min of $REPEATS runs)"
echo "   processor time (user + system) decides: other work on a shared machine"
echo "   stretches wall time, not processor time; wall times are shown beside it"
printf '  %-18s %6s %9s %9s %7s   %9s %9s %7s\n' set photos "floor" "lumvet" ratio "floor" "lumvet" ratio
printf '  %-18s %6s %9s %9s %7s   %9s %9s %7s\n' "" "" "cpu ms" "cpu ms" "" "wall ms" "wall ms" ""
line() {  # name photos timings...
  local name=$1 n=$2
  shift 2
  local f=($1) l=($2)
  printf '  %-18s %6d %9s %9s %7s   %9s %9s %7s\n' "$name" "$n" "$(per "${f[2]}" "$n")" \
    "$(per "${l[2]}" "$n")" "$(ratio "${l[2]}" "${f[2]}")" "$(per "${f[0]}" "$n")" \
    "$(per "${l[0]}" "$n")" "$(ratio "${l[0]}" "${f[0]}")"
}
# Each set's floor, contrast and sharpness runs take turns in one time_runs call,
# so that both assessors' ratios come from the same floor measurement; the
# sharpness rows are printed after the contrast table.
dirs=()
sharp_rows=()
for set in "${SETS[@]}"; do
  dir="$PHOTOS/$set"
  dirs+=("$dir")
  mapfile -t t < <("$TIMER" "$REPEATS" "$FLOOR" --threads=1 "$dir" ::: \
    "$LUMVET" --jobs=1 --seed=1 --format=tsv "$dir" ::: \
    "$LUMVET" --assessor=sharpness --jobs=1 --format=tsv "$dir")
  line "$set" "$(count_jpg "$dir")" "${t[0]}" "${t[1]}"
  sharp_rows+=("$set|$(count_jpg "$dir")|${t[0]}|${t[1]}|${t[2]}")
done
# One process over every photo: start-up costs (lumvet loads more libraries) shared out.
n_all=$(count_jpg "${dirs[@]}")
mapfile -t t < <("$TIMER" "$REPEATS" "$FLOOR" --threads=1 "${dirs[@]}" ::: \
  "$LUMVET" --jobs=1 --seed=1 --format=tsv -R "$PHOTOS" ::: \
  "$LUMVET" --assessor=sharpness --jobs=1 --format=tsv -R "$PHOTOS")
line "all, one process" "$n_all" "${t[0]}" "${t[1]}"
sharp_rows+=("all, one process|$n_all|${t[0]}|${t[1]}|${t[2]}")
all_cpu=($(echo "${t[0]}") $(echo "${t[1]}") $(echo "${t[2]}"))
echo "  lumvet / floor, processor time, all photos: $(ratio "${all_cpu[6]}" "${all_cpu[2]}")   (target <= 1.10)"

echo "== one thread: lumvet --assessor=sharpness --jobs=1 against the same floor runs, processor time per photo"
printf '  %-18s %6s %9s %9s %7s   %9s %7s   %9s\n' set photos "floor" "contrast" ratio "sharpness" ratio "sharpness"
printf '  %-18s %6s %9s %9s %7s   %9s %7s   %9s\n' "" "" "cpu ms" "cpu ms" "" "cpu ms" "" "wall ms"
for row in "${sharp_rows[@]}"; do
  IFS='|' read -r name n tf tc ts <<<"$row"
  f=($tf) c=($tc) s=($ts)
  printf '  %-18s %6d %9s %9s %7s   %9s %7s   %9s\n' "$name" "$n" "$(per "${f[2]}" "$n")" \
    "$(per "${c[2]}" "$n")" "$(ratio "${c[2]}" "${f[2]}")" "$(per "${s[2]}" "$n")" \
    "$(ratio "${s[2]}" "${f[2]}")" "$(per "${s[0]}" "$n")"
done
echo "  sharpness / floor, processor time, all photos: $(ratio "${all_cpu[10]}" "${all_cpu[2]}")   (target <= 1.5)"

JOBS=$(nproc)
echo "== $JOBS threads: lumvet --jobs=$JOBS against the floor on $JOBS threads, all $n_all photos (min wall time of $REPEATS)"
mapfile -t t < <("$TIMER" "$REPEATS" "$FLOOR" --threads="$JOBS" "${dirs[@]}" ::: \
  "$LUMVET" --jobs="$JOBS" --seed=1 --format=tsv -R "$PHOTOS")
f=(${t[0]})
l=(${t[1]})
awk -v f="${f[0]}" -v l="${l[0]}" -v n="$n_all" 'BEGIN {
  printf "  floor %.1f photos/s, lumvet %.1f photos/s: lumvet / floor throughput = %.3f   (target >= 0.9)\n",
    n / (f / 1000), n / (l / 1000), f / l }'

echo "== peak resident memory at one thread (/usr/bin/time)"
if [ ! -x /usr/bin/time ]; then
  echo "  skipped: /usr/bin/time is not installed (Debian package time)"
else
peak_kb() { { /usr/bin/time -f '%M' "$@" >/dev/null; } 2>&1 | tail -1; }
mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
for set in 12mp baseline original 24mp_progressive; do
  kb=$(peak_kb "$LUMVET" --jobs=1 --format=tsv "$PHOTOS/$set")
  skb=$(peak_kb "$LUMVET" --assessor=sharpness --jobs=1 --format=tsv "$PHOTOS/$set")
  fkb=$(peak_kb "$FLOOR" "$PHOTOS/$set")
  printf '  %-18s lumvet %6s MB   sharpness %6s MB   decode floor %6s MB\n' "$set" "$(mb "$kb")" \
    "$(mb "$skb")" "$(mb "$fkb")"
  if [ "$set" = 12mp ]; then sharp_12mp_kb=$skb; fi
done
# The largest photo of the 12-megapixel set as one full-frame 4-byte bitmap.
bitmap_bytes=0
for f in "$PHOTOS"/12mp/*.jpg; do
  b=$(rdjpgcom -verbose "$f" | sed -n 's/^JPEG image is \([0-9]*\)w \* \([0-9]*\)h.*/\1 \2/p' |
    awk '{ print $1 * $2 * 4 }')
  if [ "${b:-0}" -gt "$bitmap_bytes" ]; then bitmap_bytes=$b; fi
done
awk -v k="$sharp_12mp_kb" -v b="$bitmap_bytes" 'BEGIN {
  printf "  12mp: sharpness %.1f MB, one full-frame bitmap (w x h x 4) %.1f MB: %.3f of it   (target < 1)\n",
    k / 1024, b / 1048576, k * 1024 / b }'
echo "  (MB here are 2^20 bytes, as /usr/bin/time reports KiB)"
echo "  (a progressive JPEG needs libjpeg's whole-image coefficient buffer, about"
echo "   3 bytes per pixel for 4:2:0)"
fi

echo "== OpenCV variance-of-the-Laplacian peer (one thread)"
# Debian's python3-opencv belongs to Debian's own interpreter.
PYTHON=/usr/bin/python3
[ -x "$PYTHON" ] || PYTHON=python3
if "$PYTHON" -c 'import cv2' 2>/dev/null; then
  for set in baseline 12mp; do
    dir="$PHOTOS/$set"
    n=$(count_jpg "$dir")
    best=""
    for ((r = 0; r < REPEATS; r++)); do
      ms=$("$PYTHON" bench/opencv_peer.py "$dir" | awk '{ print $3 }')
      best=$(printf '%s\n' "$ms" $best | sort -g | head -1)
    done
    mapfile -t t < <("$TIMER" "$REPEATS" "$LUMVET" --jobs=1 --seed=1 --format=tsv "$dir")
    l=(${t[0]})
    printf '  %-18s OpenCV %.1f ms per photo (in-process), lumvet %s ms (whole process): lumvet / OpenCV = %s\n' \
      "$set" "$best" "$(per "${l[0]}" "$n")" "$(ratio "$(per "${l[0]}" "$n")" "$best")"
  done
else
  echo "  skipped: python3-opencv is not installed (apt-get install python3-opencv to compare)"
fi

echo "== patch statistics per visited pixel"
"$BUILD/bench/scoring/features_bench" 20 | sed 's/^/  /'

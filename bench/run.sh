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
#    - every core: lumvet --jobs=N against the decode floor on N threads over the
#      same files, as throughput; target at least 0.9;
#    - lumvet's peak resident memory at one thread on 12-megapixel baseline JPEGs
#      and on progressive ones;
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
dirs=()
for set in "${SETS[@]}"; do
  dir="$PHOTOS/$set"
  dirs+=("$dir")
  mapfile -t t < <("$TIMER" "$REPEATS" "$FLOOR" --threads=1 "$dir" ::: \
    "$LUMVET" --jobs=1 --seed=1 --format=tsv "$dir")
  line "$set" "$(count_jpg "$dir")" "${t[0]}" "${t[1]}"
done
# One process over every photo: start-up costs (lumvet loads more libraries) shared out.
n_all=$(count_jpg "${dirs[@]}")
mapfile -t t < <("$TIMER" "$REPEATS" "$FLOOR" --threads=1 "${dirs[@]}" ::: \
  "$LUMVET" --jobs=1 --seed=1 --format=tsv -R "$PHOTOS")
line "all, one process" "$n_all" "${t[0]}" "${t[1]}"
all_cpu=($(echo "${t[0]}") $(echo "${t[1]}"))
echo "  lumvet / floor, processor time, all photos: $(ratio "${all_cpu[6]}" "${all_cpu[2]}")   (target <= 1.10)"

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
for set in 12mp baseline original 24mp_progressive; do
  kb=$( { /usr/bin/time -f '%M' "$LUMVET" --jobs=1 --format=tsv "$PHOTOS/$set" >/dev/null; } 2>&1 | tail -1)
  fkb=$( { /usr/bin/time -f '%M' "$FLOOR" "$PHOTOS/$set" >/dev/null; } 2>&1 | tail -1)
  printf '  %-18s lumvet %6.1f MB   decode floor %6.1f MB\n' "$set" "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')" \
    "$(awk -v k="$fkb" 'BEGIN { print k / 1024 }')"
done
echo "  (one 12-megapixel full-frame bitmap alone is 48 MB; a progressive JPEG needs"
echo "   libjpeg's whole-image coefficient buffer, about 3 bytes per pixel for 4:2:0)"
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

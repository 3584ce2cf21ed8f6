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
# 3. Prints, with every time the minimum of the repeats and every ratio taken
#    from times measured in this one run:
#    - one thread: lumvet's time per photo against the decode floor (decode_floor:
#      libjpeg-turbo with lumvet's settings decoding the same files into a rolling
#      row buffer and discarding the rows); target at most 1.10;
#    - every core: lumvet --jobs=N against the decode floor on N threads over the
#      same files, as throughput; target at least 0.9;
#    - lumvet's peak resident memory at one thread on 12-megapixel baseline JPEGs
#      and on progressive ones;
#    - the ratio to the OpenCV "variance of the Laplacian" check, when
#      python3-opencv is installed (it is not installed here);
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

# Wall time of a command in nanoseconds, its output discarded.
run_ns() {
  local s e
  s=$(date +%s%N)
  "$@" >/dev/null
  e=$(date +%s%N)
  echo $((e - s))
}
count_jpg() { find "$@" -maxdepth 1 -iname '*.jpg' | wc -l; }
min() { printf '%s\n' "$@" | sort -n | head -1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
ms_per() { awk -v ns="$1" -v n="$2" 'BEGIN { printf "%.1f", ns / n / 1e6 }'; }

# Warm the page cache so that every run reads from memory.
cat "$PHOTOS"/*/*.jpg >/dev/null

echo "== one thread: lumvet --jobs=1 against the decode floor (ms per photo, min of $REPEATS)"
printf '  %-18s %6s %8s %8s %7s\n' set photos floor lumvet ratio
total_floor=0
total_lumvet=0
for set in "${SETS[@]}"; do
  dir="$PHOTOS/$set"
  n=$(count_jpg "$dir")
  f=() l=()
  for ((r = 0; r < REPEATS; r++)); do
    f+=("$(run_ns "$FLOOR" --threads=1 "$dir")")
    l+=("$(run_ns "$LUMVET" --jobs=1 --seed=1 --format=tsv "$dir")")
  done
  fm=$(min "${f[@]}")
  lm=$(min "${l[@]}")
  total_floor=$((total_floor + fm))
  total_lumvet=$((total_lumvet + lm))
  printf '  %-18s %6d %8s %8s %7s\n' "$set" "$n" "$(ms_per "$fm" "$n")" "$(ms_per "$lm" "$n")" \
    "$(ratio "$lm" "$fm")"
done
echo "  all sets: lumvet / floor = $(ratio "$total_lumvet" "$total_floor")   (target <= 1.10)"

JOBS=$(nproc)
echo "== $JOBS threads: lumvet --jobs=$JOBS against the floor on $JOBS threads (photos per second, min time of $REPEATS)"
dirs=()
for set in "${SETS[@]}"; do dirs+=("$PHOTOS/$set"); done
n=$(count_jpg "${dirs[@]}")
f=() l=()
for ((r = 0; r < REPEATS; r++)); do
  f+=("$(run_ns "$FLOOR" --threads="$JOBS" "${dirs[@]}")")
  l+=("$(run_ns "$LUMVET" --jobs="$JOBS" --seed=1 --format=tsv -R "$PHOTOS")")
done
fm=$(min "${f[@]}")
lm=$(min "${l[@]}")
printf '  %d photos: floor %.1f/s, lumvet %.1f/s, lumvet / floor throughput = %s   (target >= 0.9)\n' \
  "$n" "$(awk -v ns="$fm" -v n="$n" 'BEGIN { print n / (ns / 1e9) }')" \
  "$(awk -v ns="$lm" -v n="$n" 'BEGIN { print n / (ns / 1e9) }')" "$(ratio "$fm" "$lm")"

echo "== peak resident memory at one thread (/usr/bin/time)"
for set in 12mp baseline original 24mp_progressive; do
  kb=$( { /usr/bin/time -f '%M' "$LUMVET" --jobs=1 --format=tsv "$PHOTOS/$set" >/dev/null; } 2>&1 | tail -1)
  fkb=$( { /usr/bin/time -f '%M' "$FLOOR" "$PHOTOS/$set" >/dev/null; } 2>&1 | tail -1)
  printf '  %-18s lumvet %6.1f MB   decode floor %6.1f MB\n' "$set" "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')" \
    "$(awk -v k="$fkb" 'BEGIN { print k / 1024 }')"
done
echo "  (one 12-megapixel full-frame bitmap alone is 48 MB; a progressive JPEG needs"
echo "   libjpeg's whole-image coefficient buffer, about 3 bytes per pixel for 4:2:0)"

echo "== OpenCV variance-of-the-Laplacian peer (one thread)"
if python3 -c 'import cv2' 2>/dev/null; then
  for set in baseline 12mp; do
    dir="$PHOTOS/$set"
    n=$(count_jpg "$dir")
    p=() l=()
    for ((r = 0; r < REPEATS; r++)); do
      p+=("$(python3 bench/opencv_peer.py "$dir" | awk '{ print $3 }')")
      l+=("$(run_ns "$LUMVET" --jobs=1 --seed=1 --format=tsv "$dir")")
    done
    pm=$(min "${p[@]}")
    lm=$(awk -v ns="$(min "${l[@]}")" -v n="$n" 'BEGIN { printf "%.1f", ns / n / 1e6 }')
    printf '  %-18s OpenCV %.1f ms per photo, lumvet %s ms: lumvet / OpenCV = %s\n' "$set" "$pm" "$lm" \
      "$(ratio "$lm" "$pm")"
  done
else
  echo "  skipped: python3-opencv is not installed (apt-get install python3-opencv to compare)"
fi

echo "== patch statistics per visited pixel"
"$BUILD/bench/scoring/features_bench" 20 | sed 's/^/  /'

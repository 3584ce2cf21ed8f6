#!/usr/bin/env bash
# Accuracy of the two assessors and of the variance of the Laplacian on the
# validation half of the sharpness set: builds lumvet (Release, in build/ unless
# a folder is given), makes the set from training/ and samples/ when it is
# missing (bench/data/sharpness-set, not in git), scores it and prints the tables.
# Usage: bench/accuracy.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
DATA=bench/data/sharpness-set

need=()
for p in python3-numpy python3-opencv; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi
# The packages and a configured build; only lumvet is needed here.
LUMVET_SETUP_TARGET=lumvet scripts/setup.sh "$BUILD" >/dev/null

if [ ! -f "$DATA/valid/labels.tsv" ]; then
  echo "making the sharpness set in $DATA ..." >&2
  /usr/bin/python3 scripts/make_sharpness_set.py --out "$DATA" >/dev/null
fi
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT
"$BUILD/cli/lumvet" -R --seed=1 --format=tsv "$DATA/valid" > "$TMP/contrast.tsv"
"$BUILD/cli/lumvet" -R --assessor=sharpness --format=tsv "$DATA/valid" > "$TMP/sharpness.tsv"
/usr/bin/python3 bench/accuracy.py "$DATA/valid" \
  "sharpness assessor (--assessor=sharpness)=$TMP/sharpness.tsv:50:higher" \
  "contrast assessor (default, --seed=1)=$TMP/contrast.tsv:10:higher" --laplacian

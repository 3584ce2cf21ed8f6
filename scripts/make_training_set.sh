#!/usr/bin/env bash
# Builds the training set of the shipped network from the bundled samples/:
#   OUT/good/  27 sharp photos: the nine sharp samples (names without _blur_) and
#              half- and quarter-size copies of them (djpeg -scale), sharp as well;
#   OUT/blur/  26 blurred photos: the eight bundled blurred samples and two blurred
#              copies of every sharp sample, made with scripts/ppm_blur.cc (three
#              box passes of radius 3 and 6: close to Gaussian blurs of sigma 3.5
#              and 6.5).
# New JPEG files are written by cjpeg at quality 90. Needs g++, djpeg and cjpeg
# (Debian: build-essential, libjpeg-turbo-progs); the files come out the same on
# every run with the same libjpeg-turbo (Debian 12: 2.1.5).
# Usage: scripts/make_training_set.sh [OUT_DIR]   (default: training-set)
set -euo pipefail

cd "$(dirname "$0")/.."
OUT="${1:-training-set}"
TOOLS="$(mktemp -d)"
trap 'rm -rf "$TOOLS"' EXIT

g++ -std=c++20 -O2 -o "$TOOLS/ppm_blur" scripts/ppm_blur.cc

rm -rf "$OUT/good" "$OUT/blur"
mkdir -p "$OUT/good" "$OUT/blur"
for src in samples/*.jpg; do
  name="$(basename "$src" .jpg)"
  case "$name" in
    *_blur_*)
      cp "$src" "$OUT/blur/$name.jpg"
      ;;
    *)
      cp "$src" "$OUT/good/$name.jpg"
      djpeg -scale 1/2 -ppm "$src" | cjpeg -quality 90 > "$OUT/good/${name}_half.jpg"
      djpeg -scale 1/4 -ppm "$src" | cjpeg -quality 90 > "$OUT/good/${name}_quarter.jpg"
      for radius in 3 6; do
        djpeg -ppm "$src" | "$TOOLS/ppm_blur" "$radius" | cjpeg -quality 90 \
          > "$OUT/blur/${name}_box${radius}.jpg"
      done
      ;;
  esac
done
echo "$(ls "$OUT/good" | wc -l) sharp photos in $OUT/good/, $(ls "$OUT/blur" | wc -l) blurred in $OUT/blur/"

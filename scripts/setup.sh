#!/usr/bin/env bash
# Installs the Debian packages lumvet needs (only those missing) and builds it.
# Usage: scripts/setup.sh [BUILD_DIR [extra cmake arguments...]]
set -euo pipefail

cd "$(dirname "$0")/.."

PACKAGES=(
  build-essential cmake pkg-config
  libjpeg62-turbo-dev libpng-dev libgif-dev libtiff-dev libstb-dev
  libwebp-dev libheif-dev libraw-dev
  nlohmann-json3-dev libgtest-dev libjpeg-turbo-progs libxxhash-dev parallel
  # Tests only: the report is checked in a real headless browser.
  chromium chromium-driver
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing Debian packages: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

BUILD_DIR="${1:-build}"
shift || true
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
# LUMVET_SETUP_TARGET=NAME builds only that target (and what it needs).
cmake --build "$BUILD_DIR" -j"$(nproc)" ${LUMVET_SETUP_TARGET:+--target "$LUMVET_SETUP_TARGET"}

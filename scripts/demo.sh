#!/usr/bin/env bash
# Installs what is missing, builds lumvet alone (not the tests or the other
# programs) and runs it on the bundled sample photos.
set -euo pipefail
cd "$(dirname "$0")/.."
LUMVET_SETUP_TARGET=lumvet scripts/setup.sh build
echo
echo "\$ lumvet --assessor=sharpness samples"
build/cli/lumvet --assessor=sharpness samples
echo
echo "lumvet is build/cli/lumvet; scripts/test.sh builds everything and runs the tests."

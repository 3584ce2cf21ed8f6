#!/usr/bin/env bash
# Installs what lumvet needs to build (not what the tests need), builds lumvet
# alone (not the tests or the other programs) and runs it on the bundled sample
# photos. scripts/test.sh, run later, builds the rest in the same build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
LUMVET_SETUP_PACKAGES=build LUMVET_SETUP_TARGET=lumvet scripts/setup.sh build \
  -DLUMVET_BUILD_TESTS=OFF
echo
echo "\$ lumvet --assessor=sharpness samples"
build/cli/lumvet --assessor=sharpness samples
echo
echo "lumvet is build/cli/lumvet; scripts/test.sh builds everything and runs the tests."

#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
# Usage: scripts/test.sh [BUILD_DIR [extra cmake arguments...]]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${1:-build}"
# The tests are built whatever an earlier run (scripts/demo.sh) configured.
scripts/setup.sh "$BUILD_DIR" -DLUMVET_BUILD_TESTS=ON "${@:2}"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)"

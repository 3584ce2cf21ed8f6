#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
# Usage: scripts/test.sh [BUILD_DIR [extra cmake arguments...]]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${1:-build}"
scripts/setup.sh "$@"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)"

#!/usr/bin/env bash
# Installs what is missing, builds, and runs lumvet on the bundled sample photos.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
echo "\$ lumvet -R samples"
build/cli/lumvet -R samples

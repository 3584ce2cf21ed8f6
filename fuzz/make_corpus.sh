#!/usr/bin/env bash
# Writes the seed corpora, OUT/<target>/, from the pictures the tests make (no
# third-party files), with make_fuzz_corpus from a fuzz build.
# Usage: fuzz/make_corpus.sh BUILD_DIR OUT_DIR
set -euo pipefail
BUILD_DIR="${1:?usage: fuzz/make_corpus.sh BUILD_DIR OUT_DIR}"
OUT_DIR="${2:?usage: fuzz/make_corpus.sh BUILD_DIR OUT_DIR}"
rm -rf "$OUT_DIR"
mkdir -p "$OUT_DIR"
# libtiff warns about its codec name while writing; the files are fine.
"$BUILD_DIR/tests/fuzz/corpus/make_fuzz_corpus" "$OUT_DIR" 2>/dev/null

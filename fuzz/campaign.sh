#!/usr/bin/env bash
# A fuzzing campaign: installs clang and its fuzzer runtime when missing, builds
# the libFuzzer targets (build-fuzz/, ASan and UBSan), writes the seed corpora and
# runs every target (or those named) for SECONDS each on its growing corpus
# (build-fuzz/corpus/<target>/, kept between campaigns). Prints one line per
# target: seconds, executions, corpus size and findings; a finding is saved as
# build-fuzz/findings/<target>-crash-..., and the script then exits with 1.
# Usage: fuzz/campaign.sh [SECONDS [TARGET...]]      (default 300 seconds)
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_PER_TARGET="${1:-300}"
shift || true
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
  TARGETS=(image_readers fast_scorer model_file network_file long_options command_line file_list)
fi

PACKAGES=(clang-14 libclang-rt-14-dev)
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

BUILD=build-fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMVET_BUILD_FUZZERS=ON -DLUMVET_BUILD_TESTS=OFF >/dev/null
mkdir -p "$BUILD"
if ! cmake --build "$BUILD" -j"$(nproc)" >"$BUILD/build.log" 2>&1; then
  grep -E "error|Error" "$BUILD/build.log" | head -20 >&2
  echo "fuzz build failed; see $BUILD/build.log" >&2
  exit 1
fi
fuzz/make_corpus.sh "$BUILD" "$BUILD/seeds"
mkdir -p "$BUILD/findings"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=0
printf '%-14s %8s %12s %8s %9s\n' target seconds executions corpus findings
for t in "${TARGETS[@]}"; do
  mkdir -p "$BUILD/corpus/$t"
  log="$BUILD/findings/$t.log"
  # 30 s per input (an image at the pixel limit takes seconds under the sanitizers)
  # and 2.5 GB: more is a finding, as a hang or a bomb is.
  status=0
  "$BUILD/fuzz/fuzz_$t" "$BUILD/corpus/$t" "$BUILD/seeds/$t" \
    -max_total_time="$SECONDS_PER_TARGET" -timeout=30 -rss_limit_mb=2560 \
    -print_final_stats=1 -artifact_prefix="$BUILD/findings/$t-" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  findings=0
  if [ $status -ne 0 ]; then
    findings=1
    failed=1
  fi
  printf '%-14s %8s %12s %8s %9s\n' "$t" "$SECONDS_PER_TARGET" "${runs:-?}" \
    "$(find "$BUILD/corpus/$t" -type f | wc -l)" "$findings"
  if [ $status -ne 0 ]; then
    grep -E "fuzz check failed|ERROR:|SUMMARY|Test unit written" "$log" | head -5 | sed 's/^/    /'
  fi
done
exit $failed

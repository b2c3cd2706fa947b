#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each for a bounded time.
#   scripts/fuzz.sh [seconds-per-target]   (default 60)
#   QUELMUX_WERROR=ON                       warnings fail the build (as in CI)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUELMUX_BUILD_FUZZ=ON -DQUELMUX_SANITIZE=ON -DQUELMUX_BUILD_TESTS=OFF -DQUELMUX_WERROR="${QUELMUX_WERROR:-OFF}"
cmake --build build/fuzz -j "$(nproc)"

shopt -s nullglob
targets=(build/fuzz/fuzzers/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets"
  exit 0
fi
for target in "${targets[@]}"; do
  name=${target##*/fuzz_}
  work=build/fuzz/corpus/$name
  mkdir -p "$work"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  # 512 MB: an allocation sized from what a file claims rather than what it
  # holds (gigabytes from a few hundred bytes) fails the run. The AVI inputs'
  # targets come near 512 MB in all (the sanitizer's quarantine alone keeps
  # 256 MB): one allocation of 256 MB fails them, or 1 GB in all.
  limits=(-rss_limit_mb=512)
  case $name in
    avi_reader | crvtdec_input | corvath_demux) limits=(-rss_limit_mb=1024 -malloc_limit_mb=256) ;;
  esac
  echo "-- fuzz_$name for ${seconds}s (${limits[*]})"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$target" -max_total_time="$seconds" "${limits[@]}" -timeout=20 -print_final_stats=1 \
    "$work" "${seeds[@]}" > "build/fuzz/$name.log" 2>&1 && status=0 || status=$?
  tail -n 15 "build/fuzz/$name.log"
  if [ "$status" -ne 0 ]; then
    # The report's first lines say where it failed; the tail alone does not.
    grep -m 1 -A 40 -E '^==[0-9]+==|^[^ ]*: runtime error|deadly signal' "build/fuzz/$name.log" >&2 || true
    echo "fuzz_$name failed (status $status); the reproducer is named in the log above" >&2
    exit 1
  fi
done

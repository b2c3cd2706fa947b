#!/usr/bin/env bash
# Sets up a fresh Debian machine and runs the whole test suite: a Release build
# with every test, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Debian packages built, installed, run and
# removed, and a short run of every fuzz target. Every build treats compiler
# warnings as errors.
#
#   QUELMUX_SKIP_INSTALL=1   skip the apt-get step (packages already there)
#   QUELMUX_FUZZ_SECONDS=N   seconds per fuzz target (default 60)
#   QUELMUX_SKIP_PACKAGE=1   skip the Debian package test (it installs into /usr)
#   QUELMUX_FORMAT_CHECK=0   skip the first step, which fails if a source file
#                            is not as scripts/format.sh would have it
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${QUELMUX_SKIP_INSTALL:-0}" != 1 ]; then
  scripts/install-deps.sh --test
fi

if [ "${QUELMUX_FORMAT_CHECK:-1}" = 1 ]; then
  echo "== Format check"
  scripts/format.sh --check
fi

# A missing external tool fails its test here instead of skipping it.
export QUELMUX_REQUIRE_TOOLS=1
# scripts/package-test.sh and scripts/fuzz.sh build with it too.
export QUELMUX_WERROR=ON
jobs=$(nproc)

echo "== Release build and tests"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUELMUX_BUILD_TESTS=ON \
  -DQUELMUX_BUILD_BENCH=ON -DQUELMUX_REQUIRE_GSTREAMER=ON -DQUELMUX_WERROR=ON
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELMUX_SANITIZE=ON \
  -DQUELMUX_BUILD_TESTS=ON -DQUELMUX_REQUIRE_GSTREAMER=ON -DQUELMUX_WERROR=ON
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs" -LE long

echo "== ThreadSanitizer build: the threaded conversion and decoding"
# Only the programs and the tests of their threads: the rest has no threads
# of its own, and GStreamer's libraries are not built for the sanitizer.
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELMUX_TSAN=ON \
  -DQUELMUX_BUILD_TESTS=ON -DQUELMUX_WERROR=ON
cmake --build build/tsan -j "$jobs" --target quelmux crvtdec app_tests crvtdec_tests corvath_api_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --test-dir build/tsan --output-on-failure -j "$jobs" \
  -LE long -R 'EveryThread|NothingLost|DistinctHandles'

if [ "${QUELMUX_SKIP_PACKAGE:-0}" != 1 ]; then
  echo "== Debian packages: build, install, run and remove"
  scripts/package-test.sh build/package
fi

if [ -f fuzz/CMakeLists.txt ] && [ -x scripts/fuzz.sh ]; then
  echo "== Fuzz targets"
  scripts/fuzz.sh "${QUELMUX_FUZZ_SECONDS:-60}"
fi

echo "== All tests passed"

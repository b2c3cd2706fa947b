#!/usr/bin/env bash
# Sets up a fresh Debian machine with what building and running quelmux
# need (not the tests' tools), builds it in Release with all that
# `cmake --install build/release` installs, makes a sample movie with mkmovie
# and converts it into a Corvath-compressed AVI file and an uncompressed one,
# then checks with crvtdec that the compressed file decodes to exactly the
# movie's frames.
#
#   QUELMUX_SKIP_INSTALL=1   skip the apt-get step (packages already there)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${QUELMUX_SKIP_INSTALL:-0}" != 1 ]; then
  echo "== Installing packages (scripts/install-deps.sh)"
  scripts/install-deps.sh
fi

# Every target that is built by default: the programs, libcorvath and the
# manual pages, which the install step takes. The tests need GoogleTest,
# which scripts/test.sh installs and builds them with.
echo "== Building in Release (build/release)"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUELMUX_BUILD_TESTS=OFF
cmake --build build/release -j "$(nproc)"

mkdir -p build/demo
movie=build/demo/sample.mov
avi=build/demo/sample.avi
uncompressed=build/demo/sample-u.avi

echo "== Making a sample movie: 3 seconds of a 320x240 moving shape, 30 frames a second"
build/release/tools/mkmovie --size 320x240 --frames 90 --content shape \
  --time-scale 600 --duration 20 --chunking 1:2,3:1 "$movie"

echo "== Converting: quelmux $movie $avi"
build/release/src/app/quelmux "$movie" "$avi"

echo "== Converting without compression: quelmux -u $movie $uncompressed"
build/release/src/app/quelmux -u "$movie" "$uncompressed"

echo "== Checking: crvtdec --compare $avi $movie"
build/release/tools/crvtdec/crvtdec --compare "$avi" "$movie"
build/release/tools/crvtdec/crvtdec --info "$avi"

echo "== Sizes"
ls -l "$movie" "$avi" "$uncompressed"

echo "== Done. As root, 'cmake --install build/release && ldconfig' installs the programs,"
echo "   their manual pages and libcorvath under /usr/local."

#!/usr/bin/env bash
# Compares Corvath with other lossless coders (CharLS, WebP, JPEG XL, PNG,
# zstd) on python3-skimage's pictures and generated frames: builds the Release
# tree, measures every coder in one run, and writes bench/results/compare.md,
# compare.png and compare.json and the table in the README's Performance
# section. Takes about 20 minutes on 2 CPUs; the machine should be otherwise idle.
#
#   scripts/compare.sh                     everything
#   scripts/compare.sh --only astronaut    some pictures (names, comma-separated)
#   scripts/compare.sh --help              every option
#
# Needs python3, gnuplot, webp, libjxl-tools, zstd, libcharls-dev, libpng-dev
# and python3-skimage; a missing tool leaves its columns n/a.
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 bench/compare/compare.py --build "$@"

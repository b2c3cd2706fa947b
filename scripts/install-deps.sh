#!/usr/bin/env bash
# Installs every Debian package that building, testing and benchmarking need.
# Runs as root, or through sudo when it is there.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config git ca-certificates python3 dpkg-dev file
  # tests, sanitizers, fuzzing, benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  # crvtdec's PNG output
  libpng-dev
  # interoperation tests
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-base-apps
  gstreamer1.0-plugins-good libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev mediainfo
  # the manual pages' check
  groff-base
  # comparison benchmarks, their test images and plot
  libcharls-dev python3-skimage webp libjxl-tools zstd gnuplot-nox
)

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo > /dev/null; then
  as_root=(sudo)
else
  echo "install-deps.sh: run as root, or install sudo" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y --no-install-recommends "${packages[@]}"

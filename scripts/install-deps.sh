#!/usr/bin/env bash
# Installs the Debian packages that quelmux needs. Runs as root, or through
# sudo when it is there.
#
#   scripts/install-deps.sh          building, installing and running the
#                                    programs, the library and the manual pages
#   scripts/install-deps.sh --test   that, and what the tests, the format
#                                    check, fuzzing, packaging, GStreamer
#                                    interoperation and the benchmarks need
set -euo pipefail

build_packages=(
  build-essential cmake ninja-build pkg-config
  # crvtdec's PNG output
  libpng-dev
)
test_packages=(
  # test programs, benchmarks, sanitizers, fuzzing, the format check
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev clang-format python3
  # the Debian packages' test (cpack and dpkg-shlibdeps)
  dpkg-dev file
  # the GStreamer plug-in and interoperation tests
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-base-apps
  gstreamer1.0-plugins-good libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev mediainfo
  # the manual pages' check
  groff-base
  # comparison benchmarks, their test images, plot and memory figures (scripts/compare.sh)
  git libcharls-dev python3-skimage webp libjxl-tools zstd gnuplot-nox time
)

packages=("${build_packages[@]}")
case "${1:-}" in
  "") ;;
  --test) packages+=("${test_packages[@]}") ;;
  *)
    echo "usage: install-deps.sh [--test]" >&2
    exit 2
    ;;
esac

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

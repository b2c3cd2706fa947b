#!/usr/bin/env bash
# Times "crvtdec --compare" end to end on a 1920 x 1080 photographic movie of
# 100 frames (a python3-skimage photograph, tiled and panning), converted by
# quelmux, and prints the rate in MB/s of frames. Needs a Release build with
# the programs, netpbm's pngtopnm and hyperfine.
#
#   bench/tools/compare_bench.sh [build dir] [photograph]
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${1:-build/release}
photo=${2:-/usr/lib/python3/dist-packages/skimage/data/astronaut.png}
frames=100
width=1920
height=1080

for tool in pngtopnm hyperfine; do
  command -v "$tool" > /dev/null || { echo "compare_bench.sh: $tool is missing" >&2; exit 1; }
done
for program in tools/mkmovie src/app/quelmux tools/crvtdec/crvtdec; do
  [ -x "$build/$program" ] || { echo "compare_bench.sh: build $build/$program first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pngtopnm "$photo" > "$work/photo.ppm"
"$build/tools/mkmovie" --quiet --size "${width}x${height}" --frames "$frames" --content ppm \
  --ppm "$work/photo.ppm" --fit tile --chunking 1:10 "$work/photo.mov"
"$build/src/app/quelmux" "$work/photo.mov" "$work/photo.avi" > /dev/null
echo "AVI file: $(stat -c %s "$work/photo.avi") bytes for $frames frames of ${width} x ${height}"

hyperfine --warmup 1 --runs 5 --export-json "$work/times.json" \
  "$build/tools/crvtdec/crvtdec --compare $work/photo.avi $work/photo.mov"
python3 - "$work/times.json" "$frames" "$width" "$height" <<'PY'
import json, sys
times = json.load(open(sys.argv[1]))["results"][0]
frames, width, height = map(int, sys.argv[2:5])
megabytes = frames * width * height * 3 / 1e6
print(f"crvtdec --compare: {megabytes / times['mean']:.1f} MB/s of frames "
      f"(best run {megabytes / times['min']:.1f} MB/s)")
PY

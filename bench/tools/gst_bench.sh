#!/usr/bin/env bash
# Times the GStreamer plug-in beside the programs on a 1920 x 1080
# photographic movie (a python3-skimage photograph, tiled and panning),
# converted by quelmux:
#   - playback decoding, decodebin to fakesink, beside crvtdec --compare;
#   - writing with corvathavisink beside quelmux on the same frames, from the
#     movie through qtdemux and videoconvert, and from BGR pictures in a file.
# Prints milliseconds a frame, the best of three runs of each. Needs a Release
# build with the plug-in, GStreamer's tools and python3-skimage.
#
#   bench/tools/gst_bench.sh [build dir] [frames] [photograph]
set -euo pipefail
cd "$(dirname "$0")/../.."

build=$(realpath "${1:-build/release}")
frames=${2:-100}
photo=${3:-/usr/lib/python3/dist-packages/skimage/data/astronaut.png}
width=1920
height=1080

for program in tools/mkmovie src/app/quelmux tools/crvtdec/crvtdec gstreamer-1.0/libgstcorvath.so; do
  [ -e "$build/$program" ] || { echo "gst_bench.sh: build $build/$program first" >&2; exit 1; }
done
command -v gst-launch-1.0 > /dev/null || { echo "gst_bench.sh: gst-launch-1.0 is missing" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export GST_PLUGIN_PATH="$build/gstreamer-1.0" GST_REGISTRY="$work/registry.bin"

# Debian's python3, which python3-skimage serves, before any other in PATH.
python=$(command -v /usr/bin/python3 || command -v python3)
"$python" - "$photo" "$work/photo.ppm" <<'PY'
import sys
from skimage import io
picture = io.imread(sys.argv[1])[:, :, :3]
height, width = picture.shape[:2]
with open(sys.argv[2], "wb") as out:
    out.write(b"P6\n%d %d\n255\n" % (width, height) + picture.tobytes())
PY
"$build/tools/mkmovie" --quiet --size "${width}x${height}" --frames "$frames" --content ppm \
  --ppm "$work/photo.ppm" --fit tile --chunking 1:10 --time-scale 30 --duration 1 "$work/photo.mov"
"$build/src/app/quelmux" "$work/photo.mov" "$work/photo.avi" > /dev/null
# The pictures as GStreamer hands them out: BGR, top row first.
gst-launch-1.0 -q filesrc location="$work/photo.avi" ! decodebin ! filesink location="$work/frames.bgr"
echo "$frames frames of $width x $height; $(stat -c %s "$work/photo.avi") bytes compressed"

# best LABEL COMMAND...: the best of three runs, in ms a frame.
best() {
  local label=$1
  shift
  local fastest=
  for _ in 1 2 3; do
    local start end
    start=$(date +%s.%N)
    "$@" > /dev/null
    end=$(date +%s.%N)
    fastest=$(python3 -c "t = $end - $start; b = '$fastest'; print(t if not b else min(t, float(b)))")
  done
  python3 -c "print(f'{\"$label\":<58} {1000 * $fastest / $frames:7.1f} ms a frame')"
}

echo "Decoding"
best "crvtdec --compare photo.avi photo.mov" "$build/tools/crvtdec/crvtdec" --compare "$work/photo.avi" "$work/photo.mov"
best "gst-launch-1.0 filesrc ! decodebin ! fakesink" \
  gst-launch-1.0 -q filesrc location="$work/photo.avi" ! decodebin ! fakesink
echo "Writing"
best "quelmux photo.mov out.avi" "$build/src/app/quelmux" "$work/photo.mov" "$work/quelmux.avi"
best "gst-launch-1.0 filesrc ! qtdemux ! videoconvert ! corvathavisink" \
  gst-launch-1.0 -q filesrc location="$work/photo.mov" ! qtdemux ! videoconvert ! video/x-raw,format=BGR ! \
  corvathavisink location="$work/gst.avi"
best "gst-launch-1.0 filesrc (BGR pictures) ! corvathavisink" \
  gst-launch-1.0 -q filesrc location="$work/frames.bgr" blocksize=$((width * height * 3)) ! \
  "video/x-raw,format=BGR,width=$width,height=$height,framerate=30/1" ! corvathavisink location="$work/bgr.avi"
for file in gst.avi bgr.avi; do
  if cmp -s "$work/quelmux.avi" "$work/$file"; then
    echo "$file: the bytes quelmux writes"
  else
    echo "$file: differs from quelmux's file" >&2
    exit 1
  fi
done

#!/usr/bin/env bash
# Builds the Debian packages (quelmux, quelmux-dev, and gstreamer1.0-corvath
# when the GStreamer plug-in is built) with CPack, installs them into this
# machine with apt-get, runs the installed quelmux and crvtdec on a movie made
# by the build's mkmovie, plays and writes a Corvath AVI with GStreamer and
# the installed plug-in, builds the library example against the installed
# library, then purges the packages and checks that nothing of them is left.
# Needs root (or sudo): it changes the machine's /usr.
#
#   scripts/package-test.sh [build-dir]     (default build/package)
#   QUELMUX_WERROR=ON                        warnings fail the build (as in CI)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/package}
packages=(gstreamer1.0-corvath quelmux-dev quelmux)

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo > /dev/null; then
  as_root=(sudo)
else
  echo "package-test.sh: run as root, or install sudo" >&2
  exit 1
fi

installed() {
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2> /dev/null || true)" = installed ]
}
fail() {
  echo "package-test.sh: $*" >&2
  exit 1
}

for p in "${packages[@]}"; do
  if installed "$p"; then fail "$p is already installed; remove it first (apt-get purge $p)"; fi
done

# Configured for /usr, so that the library lands in the multiarch directory.
# With QUELMUX_REQUIRE_TOOLS=1 (as scripts/test.sh has it) the plug-in must be
# built and packaged.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUELMUX_BUILD_TESTS=OFF -DQUELMUX_WERROR="${QUELMUX_WERROR:-OFF}"
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB)
arch=$(dpkg --print-architecture)
shopt -s nullglob
debs=("$build"/quelmux_*_"$arch".deb)
dev_debs=("$build"/quelmux-dev_*_"$arch".deb)
shopt -u nullglob
if [ ${#debs[@]} != 1 ] || [ ${#dev_debs[@]} != 1 ]; then fail "cpack did not write the two packages"; fi
deb=${debs[0]}
dev_deb=${dev_debs[0]}
shopt -s nullglob
gst_debs=("$build"/gstreamer1.0-corvath_*_"$arch".deb)
shopt -u nullglob
all_debs=("$deb" "$dev_deb" "${gst_debs[@]}")
# apt-get takes packages from files when it is given their paths.
mapfile -t deb_paths < <(realpath "${all_debs[@]}")
if [ ${#gst_debs[@]} = 0 ] && [ "${QUELMUX_REQUIRE_TOOLS:-0}" = 1 ]; then
  fail "cpack did not write gstreamer1.0-corvath"
fi

echo "-- Packages"
for d in "${all_debs[@]}"; do
  dpkg-deb --field "$d" Package Version Section Depends
done
depends=$(dpkg-deb --field "$deb" Depends)
for lib in libc6 libstdc++6; do
  grep -q "$lib" <<< "$depends" || fail "quelmux does not depend on $lib: $depends"
done
# grep -q on a pipe would end the pipe early and fail it (pipefail): the
# listings are taken whole first.
contents=$(dpkg-deb --contents "$deb")
has_crvtdec=0
if grep -q '\./usr/bin/crvtdec$' <<< "$contents"; then
  has_crvtdec=1
  grep -q 'libpng' <<< "$depends" || fail "quelmux holds crvtdec but does not depend on libpng: $depends"
fi

# The packages' directories that this machine does not have yet must go
# again with them.
new_dirs=()
while read -r dir; do
  [ -e "$dir" ] || new_dirs+=("$dir")
done < <(for d in "${all_debs[@]}"; do dpkg-deb --contents "$d"; done |
         awk '$1 ~ /^d/ { sub(/^\./, "", $6); sub(/\/$/, "", $6); print $6 }' | sort -u)

work=$(mktemp -d)
cleanup() {
  rm -rf "$work"
  for p in "${packages[@]}"; do
    if installed "$p"; then "${as_root[@]}" dpkg --purge "$p" > /dev/null || true; fi
  done
}
trap cleanup EXIT

echo "-- Installing"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get install -y --no-install-recommends "${deb_paths[@]}"
installed_packages=()
for p in "${packages[@]}"; do
  if installed "$p"; then installed_packages+=("$p"); fi
done
mapfile -t files < <(dpkg -L "${installed_packages[@]}" | while read -r f; do [ -d "$f" ] || echo "$f"; done)
echo "${#files[@]} files installed"

echo "-- Running the installed programs"
[ "$(command -v quelmux)" = /usr/bin/quelmux ] || fail "quelmux is not /usr/bin/quelmux"
"$build/tools/mkmovie" --size 97x61 --frames 12 --format raw --content shape --time-scale 30 --duration 1 \
  --quiet "$work/in.mov"
if ! /usr/bin/quelmux "$work/in.mov" "$work/out.avi" > "$work/quelmux.log"; then
  cat "$work/quelmux.log"
  fail "quelmux failed"
fi
grep -q '^Finished writing file ' "$work/quelmux.log" || fail "quelmux did not finish"
if [ "$has_crvtdec" = 1 ]; then
  /usr/bin/crvtdec --compare "$work/out.avi" "$work/in.mov" | tee "$work/compare.log"
  grep -q '^12 frames identical' "$work/compare.log" || fail "crvtdec --compare found a difference"
  /usr/bin/crvtdec --version
fi
pages=(quelmux)
if [ "$has_crvtdec" = 1 ]; then pages+=(crvtdec); fi
for page in "${pages[@]}"; do
  # Machines that drop manual pages (dpkg path-exclude) have nothing to find.
  if command -v man > /dev/null && [ -e "/usr/share/man/man1/$page.1.gz" ]; then
    [ "$(man -w "$page")" = "/usr/share/man/man1/$page.1.gz" ] || fail "man does not find $page(1)"
  fi
done

if [ ${#gst_debs[@]} != 0 ]; then
  echo "-- GStreamer with the installed plug-in"
  # A registry of its own, and no plug-in from elsewhere.
  export GST_REGISTRY="$work/gst-registry.bin"
  unset GST_PLUGIN_PATH
  plugin_dir=$(pkg-config --variable=pluginsdir gstreamer-1.0)
  gst-inspect-1.0 corvath > "$work/inspect.log" || { cat "$work/inspect.log"; fail "gst-inspect-1.0 does not find corvath"; }
  # /lib is /usr/lib on merged-/usr systems, and GStreamer may name either.
  loaded=$(awk '$1 == "Filename" { print $2 }' "$work/inspect.log")
  [ "$(realpath "$loaded")" = "$(realpath "$plugin_dir/libgstcorvath.so")" ] ||
    fail "corvath is not the installed plug-in: $loaded"
  gst-discoverer-1.0 "$work/out.avi" | grep -q "Width: 97" || fail "gst-discoverer-1.0 does not read out.avi"
  gst-launch-1.0 -q filesrc location="$work/out.avi" ! decodebin ! videoconvert ! video/x-raw,format=BGR ! \
    corvathavisink location="$work/again.avi" || fail "GStreamer could not transcode out.avi"
  cmp "$work/out.avi" "$work/again.avi" || fail "corvathavisink did not write the bytes of quelmux"
fi

echo "-- Building the library example against the installed package"
read -r -a flags <<< "$(pkg-config --cflags --libs corvath)"
cc -std=c99 -Wall -Wextra -Werror examples/corvath_roundtrip.c "${flags[@]}" -o "$work/roundtrip"
"$work/roundtrip"
# /lib is /usr/lib on merged-/usr systems, and the linker cache may name either.
ldd "$work/roundtrip" | grep -E "libcorvath\.so\.1 => (/usr)?/lib/" > /dev/null ||
  fail "the example did not load the installed library"

echo "-- Removing"
"${as_root[@]}" apt-get purge -y "${installed_packages[@]}"
for p in "${packages[@]}"; do
  if installed "$p"; then fail "$p is still installed"; fi
done
for f in "${files[@]}"; do
  if [ -e "$f" ] || [ -L "$f" ]; then fail "$f is left behind"; fi
done
for d in "${new_dirs[@]}"; do
  if [ -e "$d" ]; then fail "directory $d is left behind"; fi
done
if /sbin/ldconfig -p | grep libcorvath > /dev/null; then fail "the linker cache still names libcorvath"; fi
echo "== Packages install, run and remove cleanly"

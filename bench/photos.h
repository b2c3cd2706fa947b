// Photographic frame contents for the benchmarks: python3-skimage's colour
// photographs, read with libpng, as packed rows of 3- or 4-byte pixels (B, G,
// R and, for 4, alpha).
#pragma once

#include <string>

#include "frames.h"

namespace testframes {

// The folder of the photographs.
std::string photo_dir();

// A width x height mosaic of the colour photographs, tiled in rows; empty when
// they cannot be read.
Bytes photo_mosaic(int width, int height, int pixel_size);

// A width x height frame of photographic content at its own scale: a 3 x 2
// grid of cells, each filled with one colour photograph repeated and mirrored
// at the seams (never scaled); empty when they cannot be read.
Bytes photo_mirrored(int width, int height, int pixel_size);

}  // namespace testframes

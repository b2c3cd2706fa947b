// Frame contents for the codec's tests and benchmarks: noise, gradients, solid
// frames and photographs (python3-skimage's images, read with libpng), as
// packed rows of 3- or 4-byte pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testframes {

using Bytes = std::vector<unsigned char>;

Bytes noise(int width, int height, int pixel_size, std::uint32_t seed);

// Smooth ramps in every byte, each with its own slope.
Bytes gradient(int width, int height, int pixel_size);

Bytes solid(int width, int height, const std::vector<unsigned char>& pixel);

// Flat regions, sharp edges, text-like strokes and a few noisy spots.
Bytes screen(int width, int height, int pixel_size, std::uint32_t seed);

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

// Frame contents for the codec's tests and benchmarks: noise, gradients, solid
// frames and screen-like frames, as packed rows of 3- or 4-byte pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testframes {

using Bytes = std::vector<unsigned char>;

// The bytes of a frame of packed rows.
inline std::size_t bytes_of(int width, int height, int pixel_size) {
  return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * static_cast<std::size_t>(pixel_size);
}

Bytes noise(int width, int height, int pixel_size, std::uint32_t seed);

// Smooth ramps in every byte, each with its own slope.
Bytes gradient(int width, int height, int pixel_size);

Bytes solid(int width, int height, const std::vector<unsigned char>& pixel);

// Flat regions, sharp edges, text-like strokes and a few noisy spots.
Bytes screen(int width, int height, int pixel_size, std::uint32_t seed);

}  // namespace testframes

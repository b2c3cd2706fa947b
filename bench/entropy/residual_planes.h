// Test content for the entropy benchmarks: residual planes of photographs,
// made with a small local median (LOCO-I) predictor, or of a synthetic
// smooth image when the photographs are not installed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace benchdata {

struct Plane {
  std::string name;  // e.g. "astronaut/green"
  std::vector<unsigned char> bytes;
};

// RGB pixels, rows top to bottom.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
};

// Reads an 8-bit RGB (or RGBA, alpha dropped) PNG; empty on failure.
Image load_png(const std::string& path);

// A smooth synthetic picture with soft edges and mild noise.
Image synthetic_image(int width, int height);

// Repeats the image, mirrored at every seam, to fill width x height.
Image tile_mirrored(const Image& source, int width, int height);

// Median-predicted residuals of the green plane, and of the blue - green and
// red - green planes (modulo 256).
Plane green_residuals(const Image& image, const std::string& name);
Plane blue_minus_green_residuals(const Image& image, const std::string& name);
Plane red_minus_green_residuals(const Image& image, const std::string& name);

// The three residual planes of a frame, in the codec's order: blue - green,
// green, red - green.
struct Frame {
  std::string name;
  std::vector<Plane> planes;
};

// Frames of the photographs in python3-skimage's data folder, and a
// 1920 x 1080 mosaic of the first one; a synthetic image stands in when
// none can be read.
std::vector<Frame> residual_frames();

// Uniform random bytes.
std::vector<unsigned char> noise(std::size_t length, std::uint32_t seed);

}  // namespace benchdata

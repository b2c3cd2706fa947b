// Binary PPM (P6) images, the source of picture content for sample movies.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace movgen {

struct PpmImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // rows top to bottom, pixels R, G, B
};

// Parses a P6 image (maxval 1 to 65535, samples scaled to 8 bits). Returns
// false with `error` set for anything else or a truncated file.
bool parse_ppm(std::span<const std::uint8_t> file, PpmImage& image, std::string& error);
bool read_ppm(const std::string& path, PpmImage& image, std::string& error);

}  // namespace movgen

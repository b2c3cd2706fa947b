// Pictures as the comparison handles them: 8-bit RGB, rows top to bottom,
// packed; read from PPM or any PNG, written as PPM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace compare {

using Bytes = std::vector<std::uint8_t>;

struct Picture {
  int width = 0;
  int height = 0;
  Bytes rgb;  // width x height x 3 bytes

  std::size_t bytes() const { return rgb.size(); }
};

// A binary P6 image (8-bit samples).
bool read_ppm(const std::string& path, Picture& picture, std::string& error);
bool write_ppm(const std::string& path, const Picture& picture, std::string& error);

// Any PNG as 8-bit RGB: grey becomes R = G = B, 16-bit samples are scaled to
// 8 bits, palettes are expanded and alpha is composited on black.
bool read_png(const std::string& path, Picture& picture, std::string& error);

// The frame as quelmux hands it to the codec: rows bottom to top, pixels
// blue, green, red.
Bytes bgr_bottom_up(const Picture& picture);

// The same picture with its three colour bytes stored plane after plane
// (all red, then all green, then all blue).
Bytes planar(const Picture& picture);

}  // namespace compare

#include "frames.h"

#include <random>

namespace testframes {

Bytes noise(int width, int height, int pixel_size, std::uint32_t seed) {
  Bytes b(bytes_of(width, height, pixel_size));
  std::mt19937 rng(seed);
  for (auto& v : b) v = static_cast<unsigned char>(rng() >> 24);
  return b;
}

Bytes gradient(int width, int height, int pixel_size) {
  Bytes b(bytes_of(width, height, pixel_size));
  std::size_t i = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int k = 0; k < pixel_size; ++k) {
        b[i++] = static_cast<unsigned char>((x * (k + 1) + y * (3 - k) + 17 * k) / 2);
      }
    }
  }
  return b;
}

Bytes solid(int width, int height, const std::vector<unsigned char>& pixel) {
  Bytes b(bytes_of(width, height, static_cast<int>(pixel.size())));
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = pixel[i % pixel.size()];
  return b;
}

Bytes screen(int width, int height, int pixel_size, std::uint32_t seed) {
  Bytes b(bytes_of(width, height, pixel_size));
  std::mt19937 rng(seed);
  const auto colour = [&](int x, int y) -> std::uint32_t {
    if (y % 97 < 20) return 0x2060C0u;                      // title bars
    if ((x / 8 + y / 12) % 7 == 0 && y % 12 < 9) return 0;  // strokes of text
    if (x % 200 < 2 || y % 150 < 2) return 0x808080u;       // frames
    return x < width / 3 ? 0xF0F0F0u : 0xFFFFFFu;
  };
  std::size_t i = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint32_t c = colour(x, y);
      if ((x / 64 + y / 64) % 13 == 5) c = rng();  // a picture in the page
      for (int k = 0; k < pixel_size; ++k) b[i++] = static_cast<unsigned char>(c >> (8 * k));
    }
  }
  return b;
}

}  // namespace testframes

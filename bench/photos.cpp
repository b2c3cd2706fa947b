#include "photos.h"

#include <algorithm>
#include <cstdlib>

#if defined(QUELMUX_HAVE_PNG)
#include <png.h>
#endif

namespace testframes {

namespace {

const char* const kPhotos[] = {"astronaut.png",       "coffee.png", "chelsea.png",
                               "motorcycle_left.png", "ihc.png",    "color.png"};

// One photograph in blue, green, red (and alpha for pixel size 4: the image's
// own where it has one, else 255); empty when it cannot be read.
struct Image {
  int width = 0;
  int height = 0;
  Bytes pixels;
};

}  // namespace

std::string photo_dir() {
  const char* dir = std::getenv("QUELMUX_PHOTO_DIR");
  return dir != nullptr ? dir : "/usr/lib/python3/dist-packages/skimage/data";
}

namespace {

Image photo(const std::string& name, int pixel_size) {
  Image image;
#if defined(QUELMUX_HAVE_PNG)
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  const std::string path = photo_dir() + "/" + name;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return image;
  png.format = pixel_size == 4 ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
  Bytes pixels(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) {
    png_image_free(&png);
    return image;
  }
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.pixels = std::move(pixels);
#else
  (void)name, (void)pixel_size;
#endif
  return image;
}

}  // namespace

Bytes photo_mosaic(int width, int height, int pixel_size) {
  std::vector<Image> tiles;
  for (const char* name : kPhotos) {
    Image image = photo(name, pixel_size);
    if (image.pixels.empty()) return {};
    tiles.push_back(std::move(image));
  }
  Bytes b(bytes_of(width, height, pixel_size));
  const std::size_t ps = static_cast<std::size_t>(pixel_size);
  // Bands of kBand rows; each tile is the top left of the next photograph.
  constexpr int kBand = 300;
  std::size_t next = 0;
  for (int y0 = 0; y0 < height; y0 += kBand) {
    for (int x0 = 0; x0 < width;) {
      const Image& t = tiles[next++ % tiles.size()];
      const int w = std::min(t.width, width - x0);
      const int h = std::min({t.height, kBand, height - y0});
      for (int y = 0; y < h; ++y) {
        const unsigned char* src = t.pixels.data() + static_cast<std::size_t>(y) * t.width * ps;
        unsigned char* dst = b.data() + (static_cast<std::size_t>(y0 + y) * static_cast<std::size_t>(width) + x0) * ps;
        std::copy(src, src + static_cast<std::size_t>(w) * ps, dst);
      }
      x0 += w;
    }
  }
  return b;
}

Bytes photo_mirrored(int width, int height, int pixel_size) {
  static const char* const kCells[] = {"astronaut.png",       "coffee.png", "chelsea.png",
                                       "motorcycle_left.png", "ihc.png",    "motorcycle_right.png"};
  std::vector<Image> cells;
  for (const char* name : kCells) {
    Image image = photo(name, pixel_size);
    if (image.pixels.empty()) return {};
    cells.push_back(std::move(image));
  }
  // Position p of a mirrored repetition of n samples.
  const auto mirror = [](int p, int n) {
    const int period = p / n;
    const int r = p % n;
    return period % 2 == 0 ? r : n - 1 - r;
  };
  Bytes b(bytes_of(width, height, pixel_size));
  const std::size_t ps = static_cast<std::size_t>(pixel_size);
  unsigned char* out = b.data();
  for (int y = 0; y < height; ++y) {
    const int row = y * 2 / std::max(height, 1);
    const int y0 = row * height / 2;
    for (int x = 0; x < width; ++x, out += ps) {
      const int column = x * 3 / std::max(width, 1);
      const int x0 = column * width / 3;
      const Image& t = cells[static_cast<std::size_t>(row * 3 + column)];
      const std::size_t sx = static_cast<std::size_t>(mirror(x - x0, t.width));
      const std::size_t sy = static_cast<std::size_t>(mirror(y - y0, t.height));
      const unsigned char* src = t.pixels.data() + (sy * static_cast<std::size_t>(t.width) + sx) * ps;
      std::copy(src, src + ps, out);
    }
  }
  return b;
}

}  // namespace testframes

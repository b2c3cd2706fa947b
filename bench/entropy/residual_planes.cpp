#include "residual_planes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>

#ifdef QUELMUX_BENCH_HAVE_PNG
#include <png.h>
#endif

namespace benchdata {

namespace {

const char* const kPhotoFolder = "/usr/lib/python3/dist-packages/skimage/data/";
const char* const kPhotos[] = {"astronaut", "coffee", "chelsea"};

int median(int a, int b, int c) {
  const int mx = std::max(a, b);
  const int mn = std::min(a, b);
  if (c >= mx) return mn;
  if (c <= mn) return mx;
  return a + b - c;
}

// Median prediction of one 8-bit plane: left on the first row, above in the
// first column, LOCO-I's median elsewhere.
Plane predict(const std::vector<unsigned char>& plane, int width, int height, const std::string& name) {
  Plane out{name, std::vector<unsigned char>(plane.size())};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * width + x;
      int guess = 0;
      if (y == 0) {
        guess = x == 0 ? 0 : plane[i - 1];
      } else if (x == 0) {
        guess = plane[i - width];
      } else {
        guess = median(plane[i - 1], plane[i - width], plane[i - width - 1]);
      }
      out.bytes[i] = static_cast<unsigned char>(plane[i] - guess);
    }
  }
  return out;
}

std::vector<unsigned char> channel(const Image& image, int c) {
  std::vector<unsigned char> plane(static_cast<std::size_t>(image.width) * image.height);
  for (std::size_t i = 0; i < plane.size(); ++i) plane[i] = image.rgb[3 * i + c];
  return plane;
}

}  // namespace

Image load_png(const std::string& path) {
  Image image;
#ifdef QUELMUX_BENCH_HAVE_PNG
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&png, path.c_str()) == 0) return image;
  png.format = PNG_FORMAT_RGB;
  image.rgb.resize(PNG_IMAGE_SIZE(png));
  if (png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr) == 0) {
    png_image_free(&png);
    return Image{};
  }
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
#else
  (void)path;
#endif
  return image;
}

Image synthetic_image(int width, int height) {
  Image image{width, height, std::vector<unsigned char>(static_cast<std::size_t>(width) * height * 3)};
  std::mt19937 rng(1234);
  std::normal_distribution<double> grain(0.0, 1.5);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double u = static_cast<double>(x) / width;
      const double v = static_cast<double>(y) / height;
      const double disc = 1.0 / (1.0 + std::exp(40.0 * (std::hypot(u - 0.6, v - 0.4) - 0.25)));
      const double base[3] = {90 + 80 * u + 60 * disc, 70 + 100 * v * (1 - disc) + 40 * std::sin(6 * u),
                              120 + 50 * std::cos(4 * v) - 70 * disc};
      for (int c = 0; c < 3; ++c) {
        const double value = std::clamp(base[c] + grain(rng), 0.0, 255.0);
        image.rgb[(static_cast<std::size_t>(y) * width + x) * 3 + c] = static_cast<unsigned char>(value);
      }
    }
  }
  return image;
}

Image tile_mirrored(const Image& source, int width, int height) {
  Image image{width, height, std::vector<unsigned char>(static_cast<std::size_t>(width) * height * 3)};
  for (int y = 0; y < height; ++y) {
    const int ty = y / source.height;
    const int sy = ty % 2 == 0 ? y % source.height : source.height - 1 - y % source.height;
    for (int x = 0; x < width; ++x) {
      const int tx = x / source.width;
      const int sx = tx % 2 == 0 ? x % source.width : source.width - 1 - x % source.width;
      for (int c = 0; c < 3; ++c) {
        image.rgb[(static_cast<std::size_t>(y) * width + x) * 3 + c] =
            source.rgb[(static_cast<std::size_t>(sy) * source.width + sx) * 3 + c];
      }
    }
  }
  return image;
}

Plane green_residuals(const Image& image, const std::string& name) {
  return predict(channel(image, 1), image.width, image.height, name + "/green");
}

namespace {

Plane minus_green(const Image& image, int c, const std::string& name) {
  std::vector<unsigned char> plane = channel(image, c);
  const std::vector<unsigned char> green = channel(image, 1);
  for (std::size_t i = 0; i < plane.size(); ++i) plane[i] = static_cast<unsigned char>(plane[i] - green[i]);
  return predict(plane, image.width, image.height, name);
}

Frame frame_of(const Image& image, const std::string& name) {
  return {
      name,
      {blue_minus_green_residuals(image, name), green_residuals(image, name), red_minus_green_residuals(image, name)}};
}

}  // namespace

Plane blue_minus_green_residuals(const Image& image, const std::string& name) {
  return minus_green(image, 2, name + "/blue-green");
}

Plane red_minus_green_residuals(const Image& image, const std::string& name) {
  return minus_green(image, 0, name + "/red-green");
}

std::vector<Frame> residual_frames() {
  std::vector<Frame> frames;
  Image first;
  for (const char* photo : kPhotos) {
    const Image image = load_png(std::string(kPhotoFolder) + photo + ".png");
    if (image.width == 0) continue;
    if (first.width == 0) first = image;
    frames.push_back(frame_of(image, photo));
  }
  std::string mosaic_name = std::string(first.width != 0 ? kPhotos[0] : "synthetic") + "1080p";
  if (first.width == 0) {
    std::fprintf(stderr, "photographs not found in %s: using a synthetic image\n", kPhotoFolder);
    first = synthetic_image(512, 512);
    frames.push_back(frame_of(first, "synthetic"));
  }
  frames.push_back(frame_of(tile_mirrored(first, 1920, 1080), mosaic_name));
  return frames;
}

std::vector<unsigned char> noise(std::size_t length, std::uint32_t seed) {
  std::vector<unsigned char> bytes(length);
  std::mt19937 rng(seed);
  for (auto& b : bytes) b = static_cast<unsigned char>(rng() >> 24);
  return bytes;
}

}  // namespace benchdata

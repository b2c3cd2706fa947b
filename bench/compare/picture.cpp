#include "picture.h"

#include <cstdio>
#include <memory>

#include "app/pixel_convert.h"
#include "mov/ppm_image.h"

#if defined(QUELMUX_HAVE_PNG)
#include <png.h>
#endif

namespace compare {

bool read_ppm(const std::string& path, Picture& picture, std::string& error) {
  movgen::PpmImage image;
  if (!movgen::read_ppm(path, image, error)) return false;
  picture.width = image.width;
  picture.height = image.height;
  picture.rgb = std::move(image.rgb);
  return true;
}

bool write_ppm(const std::string& path, const Picture& picture, std::string& error) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!file) {
    error = "cannot create " + path;
    return false;
  }
  const bool ok = std::fprintf(file.get(), "P6\n%d %d\n255\n", picture.width, picture.height) > 0 &&
                  std::fwrite(picture.rgb.data(), 1, picture.rgb.size(), file.get()) == picture.rgb.size() &&
                  std::fflush(file.get()) == 0;
  if (!ok) error = "cannot write " + path;
  return ok;
}

bool read_png(const std::string& path, Picture& picture, std::string& error) {
#if defined(QUELMUX_HAVE_PNG)
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&png, path.c_str()) == 0) {
    error = path + ": " + png.message;
    return false;
  }
  png.format = PNG_FORMAT_RGB;
  Bytes rgb(PNG_IMAGE_SIZE(png));
  // A black background for images with alpha; without one libpng would
  // composite on whatever the buffer holds.
  const png_color black{0, 0, 0};
  if (png_image_finish_read(&png, &black, rgb.data(), 0, nullptr) == 0) {
    error = path + ": " + png.message;
    png_image_free(&png);
    return false;
  }
  picture.width = static_cast<int>(png.width);
  picture.height = static_cast<int>(png.height);
  picture.rgb = std::move(rgb);
  return true;
#else
  (void)picture;
  error = path + ": built without libpng";
  return false;
#endif
}

Bytes bgr_bottom_up(const Picture& picture) {
  Bytes bgr(picture.rgb.size());
  raw_to_BGR(picture.rgb.data(), bgr.data(), picture.width, picture.height);
  return bgr;
}

Bytes planar(const Picture& picture) {
  const std::size_t n = picture.rgb.size() / 3;
  Bytes out(picture.rgb.size());
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t c = 0; c < 3; ++c) out[c * n + i] = picture.rgb[3 * i + c];
  }
  return out;
}

}  // namespace compare

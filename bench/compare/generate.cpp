#include "generate.h"

#include <span>
#include <utility>

#include "mov/synthetic_frames.h"
#include "photos.h"

namespace compare {

namespace {

// The codec's test frames are blue, green, red.
Bytes rgb_of_bgr(Bytes pixels) {
  for (std::size_t i = 0; i + 2 < pixels.size(); i += 3) std::swap(pixels[i], pixels[i + 2]);
  return pixels;
}

bool render(movgen::Content content, int width, int height, std::uint64_t seed, Picture& picture) {
  movgen::ContentOptions options;
  options.content = content;
  options.seed = seed;
  const movgen::FrameSource source(width, height, options);
  picture.rgb.assign(source.frame_size(), 0);
  source.render(0, std::span<std::uint8_t>(picture.rgb));
  return true;
}

}  // namespace

bool generate(const std::string& kind, int width, int height, std::uint64_t seed, Picture& picture,
              std::string& error) {
  if (width < 1 || height < 1 || width > 65535 || height > 65535) {
    error = "sizes run from 1 to 65535";
    return false;
  }
  picture.width = width;
  picture.height = height;
  if (kind == "screen") return render(movgen::Content::screen, width, height, seed, picture);
  if (kind == "noise") return render(movgen::Content::noise, width, height, seed, picture);
  if (kind == "desktop") {
    picture.rgb = rgb_of_bgr(testframes::screen(width, height, 3, static_cast<std::uint32_t>(seed)));
    return true;
  }
  if (kind == "photo-mosaic") {
    picture.rgb = rgb_of_bgr(testframes::photo_mirrored(width, height, 3));
    if (picture.rgb.empty()) {
      error = "photographs not found in " + testframes::photo_dir();
      return false;
    }
    return true;
  }
  error = "unknown kind " + kind;
  return false;
}

}  // namespace compare

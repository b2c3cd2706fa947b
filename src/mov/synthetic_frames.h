// Synthetic picture content for sample movies, and the bytes a frame takes in
// a movie and in an AVI file, so that tests can check conversions against an
// expectation of their own.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "mov/movie_writer.h"
#include "mov/ppm_image.h"

namespace movgen {

enum class Content {
  gradient_h,  // colour ramp across, moving right
  gradient_v,  // colour ramp down, moving down
  noise,       // random bytes from the seed, new every frame
  solid,       // one colour, the same every frame
  grey,        // grey diagonal ramp (R = G = B), moving
  shape,       // a ball bouncing over a still background
  screen,      // a desktop with a window of text-like glyphs, typed one a frame
  image,       // a PPM image, resized (still) or tiled (panning)
};

enum class Fit { resize, tile };

struct ContentOptions {
  Content content = Content::shape;
  std::uint64_t seed = 1;
  std::array<std::uint8_t, 3> colour{200, 60, 30};  // R, G, B of solid content
  Fit fit = Fit::resize;
};

// Content names as the command line spells them: "gradient-h", "noise", ...
bool parse_content(std::string_view name, Content& content);
const char* content_name(Content content);

class FrameSource {
 public:
  // `image` is used by Content::image only; an empty one gives black frames.
  FrameSource(int width, int height, ContentOptions options, PpmImage image = {});

  int width() const { return width_; }
  int height() const { return height_; }
  std::size_t frame_size() const { return std::size_t(width_) * std::size_t(height_) * 3; }

  // Frame `index` as a picture: rows top to bottom, pixels R, G, B.
  // `rgb` holds frame_size() bytes.
  void render(std::uint32_t index, std::span<std::uint8_t> rgb) const;

 private:
  int width_;
  int height_;
  ContentOptions options_;
  PpmImage image_;
};

// Rows are `row_bytes` long (0: width x 3, packed); the bytes behind the
// pixels of a row are its fill.

// The picture as a movie of `format` stores it ("raw ": as it is; "WRLE":
// bottom-up rows of B, G, R). The fill is kPadByte, so that a reader that
// takes it for pixels shows.
inline constexpr std::uint8_t kPadByte = 0xEE;
void to_stored(DataFormat format, int width, int height, std::span<const std::uint8_t> rgb, std::span<std::uint8_t> out,
               std::size_t row_bytes = 0);
// The picture as a 24-bit AVI frame: bottom-up rows of B, G, R, with zero fill.
void to_avi(int width, int height, std::span<const std::uint8_t> rgb, std::span<std::uint8_t> out,
            std::size_t row_bytes = 0);

std::vector<std::uint8_t> stored_frame(const FrameSource& source, DataFormat format, std::uint32_t index,
                                       std::size_t row_bytes = 0);

// Writes a movie of `options.frames` frames of `source` (whose size must be the
// options' size), generated and written one at a time.
bool write_movie(const std::string& path, const MovieOptions& options, const FrameSource& source, std::string& error,
                 MovieLayout* layout = nullptr);

}  // namespace movgen

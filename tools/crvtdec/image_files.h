// Frames as image files: P6 PPM (RGB, top row first) or PNG (RGB, or RGBA for
// frames of 4-byte pixels).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crvtdec/frame_view.h"

namespace crvtdec {

enum class ImageFormat { ppm, png };

class ImageWriter {
 public:
  explicit ImageWriter(ImageFormat format) : format_(format) {}

  // Images are made on several threads and written in order, in two steps.
  // The largest image of frames of width x height pixels.
  std::size_t largest_image(int width, int height) const;
  // `frame` made into `bytes` (largest_image() long), its length in `size`;
  // false with what error() would print in `why`, naming `path`.
  bool encode(const FrameView& frame, std::vector<std::uint8_t>& bytes, std::size_t& size, const std::string& path,
              std::string& why) const;
  // The image written to `path`; on failure prints why, removes what was
  // written and returns false.
  bool write_file(const std::uint8_t* bytes, std::size_t size, const std::string& path) const;

 private:
  ImageFormat format_;
};

}  // namespace crvtdec

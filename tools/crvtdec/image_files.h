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

  // Writes `frame` to `path`; on failure prints why and returns false.
  bool write(const FrameView& frame, const std::string& path);

 private:
  bool write_ppm(const FrameView& frame, const std::string& path);
  bool write_png(const FrameView& frame, const std::string& path);

  ImageFormat format_;
  std::vector<std::uint8_t> row_;  // one PPM row, kept from frame to frame
};

}  // namespace crvtdec

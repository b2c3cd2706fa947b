// The QuickTime movie that --compare checks a file against, read through the
// converter's own movie reader: its frames as the AVI's bitmaps have them,
// bottom row first in blue, green, red ("raw " frames converted, "WRLE"
// frames as stored).
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "mov/movie_header.h"

namespace crvtdec {

class MovieSource {
 public:
  // Reads the movie's header; on failure prints why and returns false.
  bool open(const std::string& path);

  int width() const { return info_.width; }
  int height() const { return info_.height; }
  std::size_t frame_count() const { return frame_offsets_.size(); }
  std::size_t frame_size() const { return 3 * std::size_t{info_.width} * info_.height; }

  // Acquires the frame buffers; on failure prints why.
  bool begin();
  // Frame `i` as a bottom-up BGR bitmap, valid until the next call; on
  // failure prints why and returns an empty span.
  std::span<const std::uint8_t> frame(std::size_t i);

 private:
  std::string name_;
  std::ifstream file_;
  mov_info info_;
  bool raw_ = false;
  std::vector<std::int64_t> frame_offsets_;
  std::vector<std::uint8_t> stored_;     // a frame as read
  std::vector<std::uint8_t> converted_;  // a "raw " frame as a bitmap
};

}  // namespace crvtdec

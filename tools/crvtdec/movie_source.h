// The QuickTime movie that --compare checks a file against, read through the
// converter's own movie reader: its frames as stored, "raw " (top-down R, G,
// B) or "WRLE" (bottom-up B, G, R, as the AVI's bitmaps), rows packed or
// padded as the movie declares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "crvtdec/frame_compare.h"
#include "mov/movie_header.h"

namespace crvtdec {

class MovieSource {
 public:
  // Reads the movie's header; on failure prints why and returns false.
  bool open(const std::string& path);

  int width() const { return info_.width; }
  int height() const { return info_.height; }
  // The frames the movie claims; those past the end of the file cannot be
  // read.
  std::size_t frame_count() const { return frame_count_; }
  std::size_t frame_size() const { return static_cast<std::size_t>(info_.frame_bytes); }

  // Reads frame `i` into `frame`, valid until the next call; on failure
  // prints why and returns false. The frame buffer is taken at the first
  // frame, so that a header's claims cost nothing without frames.
  bool read(std::size_t i, MovieFrame& frame);

 private:
  std::string name_;
  std::ifstream file_;
  mov_info info_;
  bool raw_ = false;
  std::size_t frame_count_ = 0;
  std::vector<std::int64_t> frame_offsets_;  // of the frames within the file
  std::vector<std::uint8_t> stored_;         // a frame as read
};

}  // namespace crvtdec

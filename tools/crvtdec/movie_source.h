// The QuickTime movie that --compare checks a file against, read through the
// converter's own movie reader: its frames as stored, "raw " (top-down R, G,
// B) or "WRLE" (bottom-up B, G, R, as the AVI's bitmaps), rows packed or
// padded as the movie declares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crvtdec/frame_compare.h"
#include "mov/movie_file.h"

namespace crvtdec {

class MovieSource {
 public:
  // Reads the movie's header; on failure prints why and returns false.
  bool open(const std::string& path);

  const std::string& name() const { return name_; }
  int width() const { return info().width; }
  int height() const { return info().height; }
  // The frames the movie claims; those past the end of the file cannot be
  // read.
  std::size_t frame_count() const { return static_cast<std::size_t>(movie_.header.total_frames); }
  std::size_t frame_size() const { return static_cast<std::size_t>(info().frame_bytes); }

  // Reads frame `i` into `frame`, valid until the next call; on failure
  // prints why and returns false. The frame buffer is taken at the first
  // frame, so that a header's claims cost nothing without frames.
  bool read(std::size_t i, MovieFrame& frame);
  // The same into `buffer`, taken by the caller at frame_size() bytes, with
  // what error() would print in `why` instead of printing it; calls come one
  // at a time.
  bool read(std::size_t i, std::vector<std::uint8_t>& buffer, MovieFrame& frame, std::string& why);

 private:
  const mov_info& info() const { return movie_.header.info; }

  std::string name_;
  MovieFile movie_;
  bool raw_ = false;
  std::vector<std::uint8_t> stored_;  // a frame as read
};

}  // namespace crvtdec

// Where a decoded frame first differs from the movie's frame of the same
// picture.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "crvtdec/frame_view.h"

namespace crvtdec {

// A frame as the movie stores it: "raw " top-down R, G, B, or "WRLE"
// bottom-up B, G, R as an AVI's bitmap; rows of `stride` bytes (0: packed),
// of which the first 3 x width are pixels.
struct MovieFrame {
  std::span<const std::uint8_t> bytes;
  bool raw = false;
  std::size_t stride = 0;
};

struct Difference {
  int row = 0;                                // counted from the top of the picture
  int column = 0;                             // counted from the left
  std::array<std::uint8_t, 3> frame_pixel{};  // blue, green, red
  std::array<std::uint8_t, 3> movie_pixel{};
};

class FrameComparer {
 public:
  // Acquires a row buffer for "raw " frames `width` pixels wide; on failure
  // prints why and returns false.
  bool begin(int width);

  // Compares `frame` (3-byte pixels) with `movie`, a frame of the same size.
  // Returns the first differing pixel in reading order (top row first, left
  // to right), or nothing when the pictures are equal. "raw " rows are
  // converted one at a time, so that the movie's frame is read once.
  std::optional<Difference> first_difference(const FrameView& frame, const MovieFrame& movie);

 private:
  std::vector<std::uint8_t> row_;  // a "raw " row as B, G, R
};

}  // namespace crvtdec

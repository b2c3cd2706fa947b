// Where a decoded frame first differs from a bitmap of the same picture.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "crvtdec/frame_view.h"

namespace crvtdec {

struct Difference {
  int row = 0;     // counted from the top of the picture
  int column = 0;  // counted from the left
  std::array<std::uint8_t, 3> frame_pixel{};   // blue, green, red
  std::array<std::uint8_t, 3> bitmap_pixel{};
};

// Compares `frame` (3-byte pixels) with `bitmap`, a packed bottom-up BGR
// picture of the same size. Returns the first differing pixel in reading
// order (top row first, left to right), or nothing when they are equal.
std::optional<Difference> first_difference(const FrameView& frame, std::span<const std::uint8_t> bitmap);

}  // namespace crvtdec

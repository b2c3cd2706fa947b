// A decoded frame as crvtdec hands it on: rows of 3- or 4-byte pixels in the
// AVI's blue, green, red (, alpha) order, with the row order and row length
// the stream has.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crvtdec {

struct FrameView {
  const std::uint8_t* data = nullptr;  // the first row in memory
  int width = 0;
  int height = 0;
  int pixel_size = 3;      // 3, or 4 for 32-bit Corvath frames
  std::size_t stride = 0;  // bytes from one row to the next in memory
  bool top_down = false;   // the first row in memory is the top of the picture

  std::size_t row_bytes() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(pixel_size); }

  // Row `y` of the picture, counted from the top.
  const std::uint8_t* row(int y) const {
    const int k = top_down ? y : height - 1 - y;
    return data + static_cast<std::size_t>(k) * stride;
  }

  // Laid out as the bitmaps of an uncompressed AVI: bottom row first, rows
  // packed, so that the frame is one block of bytes.
  bool packed_bottom_up() const { return !top_down && stride == row_bytes(); }
  std::size_t size() const { return stride * static_cast<std::size_t>(height); }
};

}  // namespace crvtdec

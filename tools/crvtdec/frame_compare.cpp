#include "crvtdec/frame_compare.h"

#include <cstring>

namespace crvtdec {

std::optional<Difference> first_difference(const FrameView& frame, std::span<const std::uint8_t> bitmap) {
  // One block comparison for the usual case: the layouts agree and so do the
  // pictures.
  if (frame.packed_bottom_up() && std::memcmp(frame.data, bitmap.data(), bitmap.size()) == 0) return std::nullopt;

  const std::size_t row_bytes = frame.row_bytes();
  for (int y = 0; y < frame.height; ++y) {
    const std::uint8_t* a = frame.row(y);
    const std::uint8_t* b = bitmap.data() + static_cast<std::size_t>(frame.height - 1 - y) * row_bytes;
    if (std::memcmp(a, b, row_bytes) == 0) continue;
    std::size_t x = 0;
    while (a[x] == b[x]) ++x;
    const std::size_t pixel = x / 3 * 3;
    Difference d;
    d.row = y;
    d.column = static_cast<int>(x / 3);
    std::memcpy(d.frame_pixel.data(), a + pixel, 3);
    std::memcpy(d.bitmap_pixel.data(), b + pixel, 3);
    return d;
  }
  return std::nullopt;
}

}  // namespace crvtdec

#include "crvtdec/frame_compare.h"

#include <cstring>
#include <new>

#include "app/pixel_convert.h"
#include "crvtdec/messages.h"

namespace crvtdec {

bool FrameComparer::begin(int width) {
  try {
    row_.resize(3 * static_cast<std::size_t>(width));
  } catch (const std::bad_alloc&) {
    return error("not enough memory for rows of %d pixels", width);
  }
  return true;
}

std::optional<Difference> FrameComparer::first_difference(const FrameView& frame, const MovieFrame& movie) {
  const std::size_t row_bytes = frame.row_bytes();
  const std::size_t stride = movie.stride != 0 ? movie.stride : row_bytes;
  // One block comparison for the usual bitmap case: the layouts agree and so
  // do the pictures.
  if (!movie.raw && stride == row_bytes && frame.packed_bottom_up() &&
      std::memcmp(frame.data, movie.bytes.data(), movie.bytes.size()) == 0) {
    return std::nullopt;
  }
  for (int y = 0; y < frame.height; ++y) {
    const std::uint8_t* a = frame.row(y);
    const std::uint8_t* b = nullptr;
    if (movie.raw) {
      raw_to_BGR(movie.bytes.data() + static_cast<std::size_t>(y) * stride, row_.data(), frame.width, 1);
      b = row_.data();
    } else {
      b = movie.bytes.data() + static_cast<std::size_t>(frame.height - 1 - y) * stride;
    }
    if (std::memcmp(a, b, row_bytes) == 0) continue;
    std::size_t x = 0;
    while (a[x] == b[x]) ++x;
    const std::size_t pixel = x / 3 * 3;
    Difference d;
    d.row = y;
    d.column = static_cast<int>(x / 3);
    std::memcpy(d.frame_pixel.data(), a + pixel, 3);
    std::memcpy(d.movie_pixel.data(), b + pixel, 3);
    return d;
  }
  return std::nullopt;
}

}  // namespace crvtdec

#include "app/pixel_convert.h"

#include <cstddef>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "entropy/cpu_features.h"

namespace {

// Copies one row, swapping the first and third byte of every pixel, from
// pixel `from` on.
void swap_row_tail(const unsigned char* s, unsigned char* d, std::size_t from, std::size_t row) {
  for (std::size_t i = from; i < row; i += 3) {
    d[i] = s[i + 2];
    d[i + 1] = s[i + 1];
    d[i + 2] = s[i];
  }
}

using RowFunction = void (*)(const unsigned char*, unsigned char*, std::size_t);

void row_scalar(const unsigned char* s, unsigned char* d, std::size_t row) { swap_row_tail(s, d, 0, row); }

#if defined(__x86_64__)
// Five pixels per 16-byte load: the shuffle swaps bytes 0 and 2 of each and
// the sixteenth byte is rewritten by the next step, which starts 15 bytes on.
// Loads and stores never pass the end of the row.
__attribute__((target("ssse3"))) void row_ssse3(const unsigned char* s, unsigned char* d, std::size_t row) {
  const __m128i swap = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  std::size_t i = 0;
  for (; i + 16 <= row; i += 15) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_shuffle_epi8(v, swap));
  }
  swap_row_tail(s, d, i, row);
}
#endif

RowFunction pick_row_function() {
#if defined(__x86_64__)
  if (cpu_features().ssse3) return row_ssse3;
#endif
  return row_scalar;
}

// Row k of the bitmap is source row height - 1 - k of a "raw " frame and
// row k of a bitmap; the fill behind each row is zeroed.
void convert(const unsigned char* source, std::size_t source_stride, unsigned char* destination,
             std::size_t destination_stride, int width, int height, bool raw, RowFunction row_function) {
  if (width < 1 || height < 1) return;
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  const std::size_t fill = destination_stride - row;
  const std::size_t rows = static_cast<std::size_t>(height);
  for (std::size_t k = 0; k < rows; ++k) {
    unsigned char* d = destination + k * destination_stride;
    if (raw) {
      row_function(source + (rows - 1 - k) * source_stride, d, row);
    } else if (source != destination) {
      std::memcpy(d, source + k * source_stride, row);
    }
    if (fill != 0) std::memset(d + row, 0, fill);
  }
}

RowFunction row_function() {
  static const RowFunction chosen = pick_row_function();
  return chosen;
}

}  // namespace

void frame_to_bitmap(const unsigned char* source, std::size_t source_stride, unsigned char* destination,
                     std::size_t destination_stride, int width, int height, bool raw) {
  convert(source, source_stride, destination, destination_stride, width, height, raw, row_function());
}

void raw_to_BGR(const unsigned char* source, unsigned char* destination, int width, int height) {
  const std::size_t row = 3 * static_cast<std::size_t>(width < 0 ? 0 : width);
  convert(source, row, destination, row, width, height, true, row_function());
}

namespace pixel_convert_detail {
void raw_to_BGR_scalar(const unsigned char* source, unsigned char* destination, int width, int height) {
  const std::size_t row = 3 * static_cast<std::size_t>(width < 0 ? 0 : width);
  convert(source, row, destination, row, width, height, true, row_scalar);
}
}  // namespace pixel_convert_detail

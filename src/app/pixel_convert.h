// Conversion of stored movie frames into the AVI's bitmap layout.
#pragma once

#include <cstddef>

// Turns a stored frame into a 24-bit bitmap: bottom-up rows of B, G, R pixels,
// each row of `width` x 3 bytes followed by zero bytes up to
// `destination_stride`. `source` holds rows of `source_stride` bytes, of which
// the first width x 3 are pixels: top-down R, G, B for a "raw " frame (`raw`),
// which is flipped and byte-swapped; bottom-up B, G, R for a bitmap, which is
// copied. Both strides are at least width x 3. The buffers must not overlap,
// except that a bitmap may be converted in place when the strides are equal:
// only its fill is written then. Nothing is written for a width or height
// below 1.
void frame_to_bitmap(const unsigned char* source, std::size_t source_stride, unsigned char* destination,
                     std::size_t destination_stride, int width, int height, bool raw);

// The packed form: turns a frame of top-down R, G, B rows into bottom-up B, G,
// R rows: row k of `destination` is row height - 1 - k of `source`, each
// pixel's first and third bytes exchanged. Rows are width x 3 bytes with
// nothing between them. The buffers must not overlap; `source` is left
// unchanged. Nothing is written for a width or height below 1.
void raw_to_BGR(const unsigned char* source, unsigned char* destination, int width, int height);

// The length of a bitmap row padded to 4 bytes, as uncompressed AVI frames
// have them.
constexpr std::size_t bitmap_stride(int width) { return (3 * static_cast<std::size_t>(width) + 3) & ~std::size_t{3}; }

namespace pixel_convert_detail {
// The row conversion without vector instructions, for tests of both paths.
void raw_to_BGR_scalar(const unsigned char* source, unsigned char* destination, int width, int height);
}  // namespace pixel_convert_detail

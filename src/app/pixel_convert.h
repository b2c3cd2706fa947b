// Conversion of "raw " movie frames into the AVI's bitmap layout.
#pragma once

// Turns a frame of top-down R, G, B rows into bottom-up B, G, R rows: row k
// of `destination` is row height - 1 - k of `source`, each pixel's first and
// third bytes exchanged. Rows are width x 3 bytes with nothing between them.
// The buffers must not overlap; `source` is left unchanged. Nothing is
// written for a width or height below 1.
void raw_to_BGR(const unsigned char* source, unsigned char* destination, int width, int height);

namespace pixel_convert_detail {
// The row conversion without vector instructions, for tests of both paths.
void raw_to_BGR_scalar(const unsigned char* source, unsigned char* destination, int width,
                       int height);
}  // namespace pixel_convert_detail

// Colour decorrelation and median prediction of frames into residuals, in the
// plain pixel-interleaved form. The frame layer uses the fused plane forms of
// prediction_planes.h, which give the same bytes.
#pragma once

// The middle one of three values (signed comparisons).
int median(int x, int y, int z);

// Frames of width x height pixels of 3 bytes, rows packed. Decorrelates `in` in
// place (byte 0 -= byte 1, byte 2 -= byte 1, modulo 256), then writes one
// residual per byte to `out` (3 x width x height bytes, pixel-interleaved):
// the first pixel as it stands, the rest of the first row from the left, the
// first pixel of the second row from above, and every later byte from the
// median of left, above and left + above - above-left, taken over the frame
// as one stream. `in` and `out` must not overlap. Nothing happens for a width
// or height below 1.
void DeEntropy(unsigned char* in, unsigned char* out, int width, int height);

// The same for pixels of 4 bytes: bytes 0 and 2 are decorrelated against byte
// 1, byte 3 is left as it is, and each of the four bytes is predicted from the
// same byte of its neighbours (4 bytes back, one row of 4 x width back).
void DeEntropy32(unsigned char* in, unsigned char* out, int width, int height);

// Median prediction of one plane of bytes with rows of `stride` bytes, `length`
// bytes in all, into `out`; `in` is not changed. Unlike DeEntropy, the first
// byte of the second row is predicted from its left neighbour. Nothing happens
// for a length below 1 or a negative stride.
void blockDeEntropy(const unsigned char* in, unsigned char* out, int stride, int length);

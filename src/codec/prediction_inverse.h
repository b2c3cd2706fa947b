// The inverse of the plane prediction: rebuilds a frame from its residual
// planes, running the prediction's rules in the same order and adding instead
// of subtracting, then undoing the colour decorrelation.
#pragma once

#include "codec/prediction_simd.h"

// From planes[0..2] of n = width x height residual bytes each (as written by
// DeEntropyPlanes) writes the frame's 3 x n bytes to `out`, pixel-interleaved,
// and nothing beyond them. Every residual content is valid. `out` must not
// overlap a plane. Nothing happens for a width or height below 1.
void ReEntropyPlanes(const unsigned char* const planes[3], unsigned char* out, int width, int height);

// The same for four planes and pixels of 4 bytes (the inverse of
// DeEntropyPlanes32).
void ReEntropyPlanes32(const unsigned char* const planes[4], unsigned char* out, int width, int height);

// As above, using no instruction set beyond `level` (results are identical).
void ReEntropyPlanes(const unsigned char* const planes[3], unsigned char* out, int width, int height,
                     PredictionSimd level);
void ReEntropyPlanes32(const unsigned char* const planes[4], unsigned char* out, int width, int height,
                       PredictionSimd level);

// Prediction straight into colour planes: the residuals of DeEntropy (or
// DeEntropy32) split by byte position, plane k holding byte k of every pixel's
// residuals in pixel order, without touching the input.
#pragma once

#include "codec/prediction_simd.h"

// Frames of width x height pixels of 3 bytes, rows packed. Writes n = width x
// height bytes to each of planes[0..2]; the bytes equal those DeEntropy writes
// for byte 0, 1 and 2 of every pixel. `in` is only read. No plane may overlap
// `in` or another plane. Nothing happens for a width or height below 1.
void DeEntropyPlanes(const unsigned char* in, unsigned char* const planes[3], int width, int height);

// The same for pixels of 4 bytes and four planes, matching DeEntropy32.
void DeEntropyPlanes32(const unsigned char* in, unsigned char* const planes[4], int width, int height);

// As above, using no instruction set beyond `level` (results are identical).
void DeEntropyPlanes(const unsigned char* in, unsigned char* const planes[3], int width, int height,
                     PredictionSimd level);
void DeEntropyPlanes32(const unsigned char* in, unsigned char* const planes[4], int width, int height,
                       PredictionSimd level);

#include "codec/prediction_planes.h"

#include <cstddef>

#include "codec/prediction_kernels.h"
#include "codec/prediction_median.h"

namespace {

using Byte = unsigned char;
using prediction_detail::predict;

// Pixel p of the frame after colour decorrelation.
template <std::size_t PS>
struct Pixel {
  unsigned c[PS];
};

template <std::size_t PS>
inline Pixel<PS> decorrelated(const Byte* in, std::size_t p) {
  const Byte* q = in + PS * p;
  Pixel<PS> x;
  x.c[0] = (q[0] - q[1]) & 0xFFu;
  x.c[1] = q[1];
  x.c[2] = (q[2] - q[1]) & 0xFFu;
  if constexpr (PS == 4) x.c[3] = q[3];
  return x;
}

template <std::size_t PS>
std::size_t median_rows_simd(const Byte* in, Byte* const planes[PS], std::size_t width, std::size_t begin,
                             std::size_t end, PredictionSimd level) {
#if defined(__x86_64__)
  if (level == PredictionSimd::Avx2) {
    if constexpr (PS == 3) {
      return prediction_detail::forward_median_avx2_24(in, planes, width, begin, end);
    } else {
      return prediction_detail::forward_median_avx2_32(in, planes, width, begin, end);
    }
  }
  if (level == PredictionSimd::Ssse3) {
    if constexpr (PS == 3) {
      return prediction_detail::forward_median_ssse3_24(in, planes, width, begin, end);
    } else {
      return prediction_detail::forward_median_ssse3_32(in, planes, width, begin, end);
    }
  }
#else
  (void)in, (void)planes, (void)width, (void)end, (void)level;
#endif
  return begin;
}

template <std::size_t PS>
void de_entropy_planes(const Byte* in, Byte* const planes_in[PS], int width, int height, PredictionSimd level) {
  if (width <= 0 || height <= 0) return;
  // A local copy, which the byte stores below cannot alias.
  Byte* planes[PS];
  for (std::size_t k = 0; k < PS; ++k) planes[k] = planes_in[k];
  if (static_cast<int>(level) > static_cast<int>(best_prediction_simd())) {
    level = best_prediction_simd();
  }
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t n = w * static_cast<std::size_t>(height);

  Pixel<PS> left = decorrelated<PS>(in, 0);
  for (std::size_t k = 0; k < PS; ++k) planes[k][0] = static_cast<Byte>(left.c[k]);
  for (std::size_t p = 1; p < w; ++p) {
    const Pixel<PS> x = decorrelated<PS>(in, p);
    for (std::size_t k = 0; k < PS; ++k) planes[k][p] = static_cast<Byte>(x.c[k] - left.c[k]);
    left = x;
  }
  if (height == 1) return;

  // The first pixel of the second row is the only one predicted from above
  // alone; from the next pixel on the whole frame is one stream in which the
  // left neighbour of a row's first pixel is the last pixel of the row before.
  {
    const Pixel<PS> x = decorrelated<PS>(in, w);
    const Pixel<PS> above = decorrelated<PS>(in, 0);
    for (std::size_t k = 0; k < PS; ++k) planes[k][w] = static_cast<Byte>(x.c[k] - above.c[k]);
  }
  std::size_t p = median_rows_simd<PS>(in, planes, w, w + 1, n, level);
  if (p >= n) return;
  left = decorrelated<PS>(in, p - 1);
  Pixel<PS> above_left = decorrelated<PS>(in, p - w - 1);
  for (; p < n; ++p) {
    const Pixel<PS> x = decorrelated<PS>(in, p);
    const Pixel<PS> above = decorrelated<PS>(in, p - w);
    for (std::size_t k = 0; k < PS; ++k) {
      planes[k][p] = static_cast<Byte>(x.c[k] - predict(left.c[k], above.c[k], above_left.c[k]));
    }
    left = x;
    above_left = above;
  }
}

}  // namespace

void DeEntropyPlanes(const unsigned char* in, unsigned char* const planes[3], int width, int height,
                     PredictionSimd level) {
  de_entropy_planes<3>(in, planes, width, height, level);
}

void DeEntropyPlanes32(const unsigned char* in, unsigned char* const planes[4], int width, int height,
                       PredictionSimd level) {
  de_entropy_planes<4>(in, planes, width, height, level);
}

void DeEntropyPlanes(const unsigned char* in, unsigned char* const planes[3], int width, int height) {
  de_entropy_planes<3>(in, planes, width, height, best_prediction_simd());
}

void DeEntropyPlanes32(const unsigned char* in, unsigned char* const planes[4], int width, int height) {
  de_entropy_planes<4>(in, planes, width, height, best_prediction_simd());
}

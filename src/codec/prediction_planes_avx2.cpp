// AVX2 forms of the plane prediction. Each block of 32 pixels is split into
// colour vectors with byte shuffles (lane 0 holding pixels 0-15, lane 1 pixels
// 16-31, so the in-lane shuffles need no lane crossing), decorrelated, and
// predicted with the median predictor in unsigned bytes (prediction_shuffles.h).
#include "codec/prediction_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "codec/prediction_shuffles.h"

#define QUELMUX_AVX2 __attribute__((target("avx2")))

namespace prediction_detail {
namespace {

using Byte = unsigned char;

QUELMUX_AVX2 inline __m256i load_lanes(const Byte* lo, const Byte* hi) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lo));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
}

QUELMUX_AVX2 inline __m256i broadcast_mask(const signed char* m) {
  return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(m)));
}

QUELMUX_AVX2 inline void store(Byte* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

QUELMUX_AVX2 inline __m256i predict(__m256i l, __m256i a, __m256i d) {
  const __m256i mn = _mm256_min_epu8(l, a);
  const __m256i mx = _mm256_max_epu8(l, a);
  const __m256i up = _mm256_subs_epu8(mx, d);
  return _mm256_add_epi8(mn, _mm256_min_epu8(up, _mm256_sub_epi8(mx, mn)));
}

struct Colours24 {
  __m256i c[3];
};

struct Split24 {
  __m256i m[3][3];
};

// The decorrelated colour vectors of the 32 pixels at `p`.
QUELMUX_AVX2 inline Colours24 load24(const Byte* p, const Split24& s) {
  const __m256i v0 = load_lanes(p, p + 48);
  const __m256i v1 = load_lanes(p + 16, p + 64);
  const __m256i v2 = load_lanes(p + 32, p + 80);
  Colours24 x;
  for (int c = 0; c < 3; ++c) {
    x.c[c] = _mm256_or_si256(
        _mm256_or_si256(_mm256_shuffle_epi8(v0, s.m[c][0]), _mm256_shuffle_epi8(v1, s.m[c][1])),
        _mm256_shuffle_epi8(v2, s.m[c][2]));
  }
  x.c[0] = _mm256_sub_epi8(x.c[0], x.c[1]);
  x.c[2] = _mm256_sub_epi8(x.c[2], x.c[1]);
  return x;
}

struct Colours32 {
  __m256i c[4];
};

QUELMUX_AVX2 inline Colours32 load32(const Byte* p, __m256i group) {
  __m256i s[4];
  for (int k = 0; k < 4; ++k) s[k] = _mm256_shuffle_epi8(load_lanes(p + 16 * k, p + 64 + 16 * k), group);
  // s[k] holds four dwords (b, g, r, a of pixels 4k..4k+3); transpose them.
  const __m256i t0 = _mm256_unpacklo_epi32(s[0], s[1]);
  const __m256i t1 = _mm256_unpackhi_epi32(s[0], s[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(s[2], s[3]);
  const __m256i t3 = _mm256_unpackhi_epi32(s[2], s[3]);
  Colours32 x;
  x.c[1] = _mm256_unpackhi_epi64(t0, t2);
  x.c[0] = _mm256_sub_epi8(_mm256_unpacklo_epi64(t0, t2), x.c[1]);
  x.c[2] = _mm256_sub_epi8(_mm256_unpacklo_epi64(t1, t3), x.c[1]);
  x.c[3] = _mm256_unpackhi_epi64(t1, t3);
  return x;
}

}  // namespace

QUELMUX_AVX2 std::size_t forward_median_avx2_24(const Byte* in, Byte* const planes[3],
                                                std::size_t width, std::size_t begin,
                                                std::size_t end) {
  Split24 split;
  for (int c = 0; c < 3; ++c) {
    for (int t = 0; t < 3; ++t) split.m[c][t] = broadcast_mask(kMasks24[c][t].data());
  }
  const std::size_t above = 3 * width;
  std::size_t p = begin;
  for (; end - p >= 32; p += 32) {
    const Byte* q = in + 3 * p;
    const Colours24 x = load24(q, split);
    const Colours24 l = load24(q - 3, split);
    const Colours24 a = load24(q - above, split);
    const Colours24 d = load24(q - above - 3, split);
    for (int c = 0; c < 3; ++c) {
      store(planes[c] + p, _mm256_sub_epi8(x.c[c], predict(l.c[c], a.c[c], d.c[c])));
    }
  }
  return p;
}

QUELMUX_AVX2 std::size_t forward_median_avx2_32(const Byte* in, Byte* const planes[4],
                                                std::size_t width, std::size_t begin,
                                                std::size_t end) {
  const __m256i group = broadcast_mask(kGroup32.data());
  const std::size_t above = 4 * width;
  std::size_t p = begin;
  for (; end - p >= 32; p += 32) {
    const Byte* q = in + 4 * p;
    const Colours32 x = load32(q, group);
    const Colours32 l = load32(q - 4, group);
    const Colours32 a = load32(q - above, group);
    const Colours32 d = load32(q - above - 4, group);
    for (int c = 0; c < 4; ++c) {
      store(planes[c] + p, _mm256_sub_epi8(x.c[c], predict(l.c[c], a.c[c], d.c[c])));
    }
  }
  return p;
}

}  // namespace prediction_detail

#endif

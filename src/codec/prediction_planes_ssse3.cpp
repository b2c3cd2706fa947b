// SSSE3 forms of the plane prediction, for CPUs without AVX2: the AVX2 loops
// on 16 pixels at a time, with the same shuffles and arithmetic.
#include "codec/prediction_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "codec/prediction_shuffles.h"

#define QUELMUX_SSSE3 __attribute__((target("ssse3")))

namespace prediction_detail {
namespace {

using Byte = unsigned char;

QUELMUX_SSSE3 inline __m128i load(const Byte* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

QUELMUX_SSSE3 inline __m128i load_mask(const signed char* m) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(m));
}

QUELMUX_SSSE3 inline void store(Byte* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

QUELMUX_SSSE3 inline __m128i predict(__m128i l, __m128i a, __m128i d) {
  const __m128i mn = _mm_min_epu8(l, a);
  const __m128i mx = _mm_max_epu8(l, a);
  const __m128i up = _mm_subs_epu8(mx, d);
  return _mm_add_epi8(mn, _mm_min_epu8(up, _mm_sub_epi8(mx, mn)));
}

struct Colours24 {
  __m128i c[3];
};

struct Split24 {
  __m128i m[3][3];
};

QUELMUX_SSSE3 inline Colours24 load24(const Byte* p, const Split24& s) {
  const __m128i v0 = load(p), v1 = load(p + 16), v2 = load(p + 32);
  Colours24 x;
  for (int c = 0; c < 3; ++c) {
    x.c[c] = _mm_or_si128(
        _mm_or_si128(_mm_shuffle_epi8(v0, s.m[c][0]), _mm_shuffle_epi8(v1, s.m[c][1])),
        _mm_shuffle_epi8(v2, s.m[c][2]));
  }
  x.c[0] = _mm_sub_epi8(x.c[0], x.c[1]);
  x.c[2] = _mm_sub_epi8(x.c[2], x.c[1]);
  return x;
}

struct Colours32 {
  __m128i c[4];
};

QUELMUX_SSSE3 inline Colours32 load32(const Byte* p, __m128i group) {
  __m128i s[4];
  for (int k = 0; k < 4; ++k) s[k] = _mm_shuffle_epi8(load(p + 16 * k), group);
  const __m128i t0 = _mm_unpacklo_epi32(s[0], s[1]);
  const __m128i t1 = _mm_unpackhi_epi32(s[0], s[1]);
  const __m128i t2 = _mm_unpacklo_epi32(s[2], s[3]);
  const __m128i t3 = _mm_unpackhi_epi32(s[2], s[3]);
  Colours32 x;
  x.c[1] = _mm_unpackhi_epi64(t0, t2);
  x.c[0] = _mm_sub_epi8(_mm_unpacklo_epi64(t0, t2), x.c[1]);
  x.c[2] = _mm_sub_epi8(_mm_unpacklo_epi64(t1, t3), x.c[1]);
  x.c[3] = _mm_unpackhi_epi64(t1, t3);
  return x;
}

}  // namespace

QUELMUX_SSSE3 std::size_t forward_median_ssse3_24(const Byte* in, Byte* const planes[3],
                                                  std::size_t width, std::size_t begin,
                                                  std::size_t end) {
  Split24 split;
  for (int c = 0; c < 3; ++c) {
    for (int t = 0; t < 3; ++t) split.m[c][t] = load_mask(kMasks24[c][t].data());
  }
  const std::size_t above = 3 * width;
  std::size_t p = begin;
  for (; end - p >= 16; p += 16) {
    const Byte* q = in + 3 * p;
    const Colours24 x = load24(q, split);
    const Colours24 l = load24(q - 3, split);
    const Colours24 a = load24(q - above, split);
    const Colours24 d = load24(q - above - 3, split);
    for (int c = 0; c < 3; ++c) {
      store(planes[c] + p, _mm_sub_epi8(x.c[c], predict(l.c[c], a.c[c], d.c[c])));
    }
  }
  return p;
}

QUELMUX_SSSE3 std::size_t forward_median_ssse3_32(const Byte* in, Byte* const planes[4],
                                                  std::size_t width, std::size_t begin,
                                                  std::size_t end) {
  const __m128i group = load_mask(kGroup32.data());
  const std::size_t above = 4 * width;
  std::size_t p = begin;
  for (; end - p >= 16; p += 16) {
    const Byte* q = in + 4 * p;
    const Colours32 x = load32(q, group);
    const Colours32 l = load32(q - 4, group);
    const Colours32 a = load32(q - above, group);
    const Colours32 d = load32(q - above - 4, group);
    for (int c = 0; c < 4; ++c) {
      store(planes[c] + p, _mm_sub_epi8(x.c[c], predict(l.c[c], a.c[c], d.c[c])));
    }
  }
  return p;
}

}  // namespace prediction_detail

#endif

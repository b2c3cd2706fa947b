#include "codec/prediction_inverse.h"

#include <array>
#include <cstddef>
#include <cstring>

#include "codec/prediction_median.h"

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

// The frame is rebuilt in `out` in its decorrelated form, pixel by pixel along
// the one stream the prediction runs over. Each byte depends on its left
// neighbour, so every colour byte is a serial chain; the chains of one pixel
// run side by side (in the byte lanes of one SSE2 register on x86-64). A pixel
// is re-correlated (byte 0 += byte 1, byte 2 += byte 1) as soon as no later
// pixel reads it as its above or above-left neighbour, while it is still in
// cache. Residuals are staged a block at a time as 4-byte groups.

namespace {

using Byte = unsigned char;
using prediction_detail::predict;

constexpr std::size_t kBlock = 512;  // pixels staged at a time
using Staged = std::array<Byte, 4 * kBlock>;

// ---- Scalar steps, also used by the SSE2 loops for their last pixels ----

template <std::size_t PS>
void stage_scalar(const Byte* const planes[PS], std::size_t from, std::size_t to, Byte* r) {
  for (std::size_t j = from; j < to; ++j, r += 4) {
    for (std::size_t k = 0; k < PS; ++k) r[k] = planes[k][j];
    if constexpr (PS == 3) r[3] = 0;
  }
}

template <std::size_t PS>
void left_scalar(Byte* out, const Byte* r, std::size_t from, std::size_t to) {
  for (std::size_t j = from; j < to; ++j, r += 4) {
    Byte* x = out + PS * j;
    const Byte* l = x - PS;
    for (std::size_t k = 0; k < PS; ++k) x[k] = static_cast<Byte>(r[k] + l[k]);
  }
}

template <std::size_t PS>
void median_scalar(Byte* out, const Byte* r, std::size_t width, std::size_t from, std::size_t to) {
  if (from >= to) return;
  unsigned left[PS];
  for (std::size_t k = 0; k < PS; ++k) left[k] = out[PS * (from - 1) + k];
  for (std::size_t j = from; j < to; ++j, r += 4) {
    Byte* x = out + PS * j;
    const Byte* a = x - PS * width;
    const Byte* d = a - PS;
    for (std::size_t k = 0; k < PS; ++k) {
      const unsigned v = (r[k] + predict(left[k], a[k], d[k])) & 0xFFu;
      x[k] = static_cast<Byte>(v);
      left[k] = v;
    }
  }
}

template <std::size_t PS>
void recorrelate_scalar(Byte* out, std::size_t from, std::size_t to) {
  for (std::size_t j = from; j < to; ++j) {
    Byte* x = out + PS * j;
    x[0] = static_cast<Byte>(x[0] + x[1]);
    x[2] = static_cast<Byte>(x[2] + x[1]);
  }
}

template <std::size_t PS>
struct ScalarSteps {
  static void stage(const Byte* const planes[PS], std::size_t from, std::size_t to, Byte* r) {
    stage_scalar<PS>(planes, from, to, r);
  }
  static void left(Byte* out, const Byte* r, std::size_t from, std::size_t to, std::size_t) {
    left_scalar<PS>(out, r, from, to);
  }
  static void median(Byte* out, const Byte* r, std::size_t width, std::size_t from, std::size_t to, std::size_t) {
    median_scalar<PS>(out, r, width, from, to);
  }
  static void recorrelate(Byte* out, std::size_t from, std::size_t to) { recorrelate_scalar<PS>(out, from, to); }
};

#if defined(__x86_64__)

// ---- SSE2: one pixel's colour bytes in the low lanes of a register ----

inline __m128i load4(const Byte* p) {
  int v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}

inline void store4(Byte* p, __m128i v) {
  const int x = _mm_cvtsi128_si32(v);
  std::memcpy(p, &x, 4);
}

inline __m128i load16(const Byte* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store16(Byte* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// A 3-byte pixel is stored as 4 bytes, the fourth landing on the next pixel's
// first byte, which is rebuilt later; only the frame's last pixel cannot be
// stored that way.
template <std::size_t PS>
std::size_t vector_end(std::size_t to, std::size_t n) {
  return PS == 3 && to == n ? to - 1 : to;
}

template <std::size_t PS>
struct Sse2Steps {
  static void stage(const Byte* const planes[PS], std::size_t from, std::size_t to, Byte* r) {
    const __m128i zero = _mm_setzero_si128();
    std::size_t j = from;
    for (; to - j >= 16; j += 16, r += 64) {
      const __m128i b = load16(planes[0] + j);
      const __m128i g = load16(planes[1] + j);
      const __m128i c = load16(planes[2] + j);
      __m128i a = zero;
      if constexpr (PS == 4) a = load16(planes[3] + j);
      const __m128i bg_lo = _mm_unpacklo_epi8(b, g), bg_hi = _mm_unpackhi_epi8(b, g);
      const __m128i ra_lo = _mm_unpacklo_epi8(c, a), ra_hi = _mm_unpackhi_epi8(c, a);
      store16(r, _mm_unpacklo_epi16(bg_lo, ra_lo));
      store16(r + 16, _mm_unpackhi_epi16(bg_lo, ra_lo));
      store16(r + 32, _mm_unpacklo_epi16(bg_hi, ra_hi));
      store16(r + 48, _mm_unpackhi_epi16(bg_hi, ra_hi));
    }
    stage_scalar<PS>(planes, j, to, r);
  }

  static void left(Byte* out, const Byte* r, std::size_t from, std::size_t to, std::size_t n) {
    const std::size_t end = vector_end<PS>(to, n);
    std::size_t j = from;
    if (j < end) {
      Byte* x = out + PS * j;
      __m128i l = load4(x - PS);
      for (; j < end; ++j, x += PS, r += 4) {
        l = _mm_add_epi8(l, load4(r));
        store4(x, l);
      }
    }
    left_scalar<PS>(out, r, j, to);
  }

  static void median(Byte* out, const Byte* r, std::size_t width, std::size_t from, std::size_t to, std::size_t n) {
    const std::size_t end = vector_end<PS>(to, n);
    std::size_t j = from;
    if (j < end) {
      Byte* x = out + PS * j;
      const Byte* a = x - PS * width;
      __m128i l = load4(x - PS);
      __m128i d = load4(a - PS);
      for (; j < end; ++j, x += PS, a += PS, r += 4) {
        const __m128i above = load4(a);
        // median(L, A, L + A - D) as mn + min(max(mx - D, 0), mx - mn); the
        // residual is added to mn first, off the chain through L.
        const __m128i mn = _mm_min_epu8(l, above);
        const __m128i mx = _mm_max_epu8(l, above);
        const __m128i step = _mm_min_epu8(_mm_subs_epu8(mx, d), _mm_sub_epi8(mx, mn));
        l = _mm_add_epi8(_mm_add_epi8(mn, load4(r)), step);
        store4(x, l);
        d = above;
      }
    }
    median_scalar<PS>(out, r, width, j, to);
  }

  static void recorrelate(Byte* out, std::size_t from, std::size_t to) {
    if constexpr (PS == 4) {
      const __m128i low = _mm_set1_epi32(0xFF);
      std::size_t j = from;
      for (; to - j >= 4; j += 4) {
        Byte* x = out + 4 * j;
        const __m128i v = load16(x);
        __m128i g = _mm_and_si128(_mm_srli_epi32(v, 8), low);
        g = _mm_or_si128(g, _mm_slli_epi32(g, 16));
        store16(x, _mm_add_epi8(v, g));
      }
      recorrelate_scalar<4>(out, j, to);
    } else {
      // Per block of 16 pixels (three vectors): byte 0 takes the byte after
      // it, byte 2 the byte before it, through byte shifts of the loaded
      // vectors masked to those positions. Only byte 1 of a pixel is moved
      // that way and it never changes. Shifting in registers instead of
      // reloading at +-1 keeps loads from straddling the previous stores.
      const __m128i take_next[3] = {_mm_setr_epi8(-1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1),
                                    _mm_setr_epi8(0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0),
                                    _mm_setr_epi8(0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0)};
      const __m128i take_prev[3] = {_mm_setr_epi8(0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0),
                                    _mm_setr_epi8(0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0),
                                    _mm_setr_epi8(-1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1)};
      std::size_t j = from;
      for (; to - j >= 16; j += 16) {
        Byte* x = out + 3 * j;
        const __m128i v0 = load16(x), v1 = load16(x + 16), v2 = load16(x + 32);
        // The byte after byte 15 of v0 is byte 0 of v1; the byte before
        // byte 0 of v2 is byte 15 of v1. No other pixel crosses a vector.
        const __m128i next[3] = {_mm_or_si128(_mm_srli_si128(v0, 1), _mm_slli_si128(v1, 15)), _mm_srli_si128(v1, 1),
                                 _mm_srli_si128(v2, 1)};
        const __m128i prev[3] = {_mm_slli_si128(v0, 1), _mm_slli_si128(v1, 1),
                                 _mm_or_si128(_mm_slli_si128(v2, 1), _mm_srli_si128(v1, 15))};
        const __m128i v[3] = {v0, v1, v2};
        for (int k = 0; k < 3; ++k) {
          const __m128i g = _mm_or_si128(_mm_and_si128(next[k], take_next[k]), _mm_and_si128(prev[k], take_prev[k]));
          store16(x + 16 * k, _mm_add_epi8(v[k], g));
        }
      }
      recorrelate_scalar<3>(out, j, to);
    }
  }
};

#endif

template <std::size_t PS, class Steps>
void re_entropy(const Byte* const planes[PS], Byte* out, std::size_t w, std::size_t n) {
  for (std::size_t k = 0; k < PS; ++k) out[k] = planes[k][0];
  Staged staged;
  std::size_t done = 0;  // pixels before this one are re-correlated
  for (std::size_t begin = 1; begin < n;) {
    const std::size_t end = n - begin > kBlock ? begin + kBlock : n;
    Steps::stage(planes, begin, end, staged.data());
    const Byte* r = staged.data();
    std::size_t j = begin;
    if (j < w) {  // rest of the first row: from the left
      const std::size_t stop = end < w ? end : w;
      Steps::left(out, r, j, stop, n);
      r += 4 * (stop - j);
      j = stop;
    }
    if (j == w && j < end) {  // first pixel of the second row: from above
      for (std::size_t k = 0; k < PS; ++k) out[PS * j + k] = static_cast<Byte>(r[k] + out[k]);
      r += 4;
      ++j;
    }
    Steps::median(out, r, w, j, end, n);
    // Later pixels read no pixel before end - w - 1.
    if (end > w + 1 && end - w - 1 > done) {
      Steps::recorrelate(out, done, end - w - 1);
      done = end - w - 1;
    }
    begin = end;
  }
  Steps::recorrelate(out, done, n);
}

template <std::size_t PS>
void re_entropy_planes(const Byte* const planes[PS], Byte* out, int width, int height, PredictionSimd level) {
  if (width <= 0 || height <= 0) return;
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t n = w * static_cast<std::size_t>(height);
#if defined(__x86_64__)
  if (level != PredictionSimd::Scalar) {
    re_entropy<PS, Sse2Steps<PS>>(planes, out, w, n);
    return;
  }
#else
  (void)level;
#endif
  re_entropy<PS, ScalarSteps<PS>>(planes, out, w, n);
}

}  // namespace

void ReEntropyPlanes(const unsigned char* const planes[3], unsigned char* out, int width, int height,
                     PredictionSimd level) {
  re_entropy_planes<3>(planes, out, width, height, level);
}

void ReEntropyPlanes32(const unsigned char* const planes[4], unsigned char* out, int width, int height,
                       PredictionSimd level) {
  re_entropy_planes<4>(planes, out, width, height, level);
}

void ReEntropyPlanes(const unsigned char* const planes[3], unsigned char* out, int width, int height) {
  re_entropy_planes<3>(planes, out, width, height, best_prediction_simd());
}

void ReEntropyPlanes32(const unsigned char* const planes[4], unsigned char* out, int width, int height) {
  re_entropy_planes<4>(planes, out, width, height, best_prediction_simd());
}

// SSSE3 forms of the plane prediction, for CPUs without AVX2: the loops of
// prediction_planes_vector.h on 16 pixels at a time.
#include "codec/prediction_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "codec/prediction_shuffles.h"

#define QUELMUX_VECTOR_TARGET __attribute__((target("ssse3")))

namespace prediction_detail {
namespace {

using Byte = unsigned char;
using Vector = __m128i;
constexpr std::size_t kBlock = 16;

QUELMUX_VECTOR_TARGET inline Vector load(const Byte* p, std::size_t) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
QUELMUX_VECTOR_TARGET inline Vector mask(const signed char* m) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(m));
}
QUELMUX_VECTOR_TARGET inline void store(Byte* p, Vector v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
QUELMUX_VECTOR_TARGET inline Vector min_u8(Vector a, Vector b) { return _mm_min_epu8(a, b); }
QUELMUX_VECTOR_TARGET inline Vector max_u8(Vector a, Vector b) { return _mm_max_epu8(a, b); }
QUELMUX_VECTOR_TARGET inline Vector subs_u8(Vector a, Vector b) { return _mm_subs_epu8(a, b); }
QUELMUX_VECTOR_TARGET inline Vector add_i8(Vector a, Vector b) { return _mm_add_epi8(a, b); }
QUELMUX_VECTOR_TARGET inline Vector sub_i8(Vector a, Vector b) { return _mm_sub_epi8(a, b); }
QUELMUX_VECTOR_TARGET inline Vector or_bits(Vector a, Vector b) { return _mm_or_si128(a, b); }
QUELMUX_VECTOR_TARGET inline Vector shuffle_bytes(Vector a, Vector m) { return _mm_shuffle_epi8(a, m); }
QUELMUX_VECTOR_TARGET inline Vector unpack_lo32(Vector a, Vector b) { return _mm_unpacklo_epi32(a, b); }
QUELMUX_VECTOR_TARGET inline Vector unpack_hi32(Vector a, Vector b) { return _mm_unpackhi_epi32(a, b); }
QUELMUX_VECTOR_TARGET inline Vector unpack_lo64(Vector a, Vector b) { return _mm_unpacklo_epi64(a, b); }
QUELMUX_VECTOR_TARGET inline Vector unpack_hi64(Vector a, Vector b) { return _mm_unpackhi_epi64(a, b); }

}  // namespace
}  // namespace prediction_detail

#include "codec/prediction_planes_vector.h"

namespace prediction_detail {

QUELMUX_VECTOR_TARGET std::size_t forward_median_ssse3_24(const Byte* in, Byte* const planes[3], std::size_t width,
                                                          std::size_t begin, std::size_t end) {
  return forward_median_24(in, planes, width, begin, end);
}

QUELMUX_VECTOR_TARGET std::size_t forward_median_ssse3_32(const Byte* in, Byte* const planes[4], std::size_t width,
                                                          std::size_t begin, std::size_t end) {
  return forward_median_32(in, planes, width, begin, end);
}

}  // namespace prediction_detail

#endif

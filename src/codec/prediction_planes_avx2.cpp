// AVX2 forms of the plane prediction: the loops of prediction_planes_vector.h
// on 32 pixels at a time, two lanes of 16.
#include "codec/prediction_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "codec/prediction_shuffles.h"

#define QUELMUX_VECTOR_TARGET __attribute__((target("avx2")))

namespace prediction_detail {
namespace {

using Byte = unsigned char;
using Vector = __m256i;
constexpr std::size_t kBlock = 32;

QUELMUX_VECTOR_TARGET inline Vector load(const Byte* p, std::size_t lane) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + lane));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
}
QUELMUX_VECTOR_TARGET inline Vector mask(const signed char* m) {
  return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(m)));
}
QUELMUX_VECTOR_TARGET inline void store(Byte* p, Vector v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
QUELMUX_VECTOR_TARGET inline Vector min_u8(Vector a, Vector b) { return _mm256_min_epu8(a, b); }
QUELMUX_VECTOR_TARGET inline Vector max_u8(Vector a, Vector b) { return _mm256_max_epu8(a, b); }
QUELMUX_VECTOR_TARGET inline Vector subs_u8(Vector a, Vector b) { return _mm256_subs_epu8(a, b); }
QUELMUX_VECTOR_TARGET inline Vector add_i8(Vector a, Vector b) { return _mm256_add_epi8(a, b); }
QUELMUX_VECTOR_TARGET inline Vector sub_i8(Vector a, Vector b) { return _mm256_sub_epi8(a, b); }
QUELMUX_VECTOR_TARGET inline Vector or_bits(Vector a, Vector b) { return _mm256_or_si256(a, b); }
QUELMUX_VECTOR_TARGET inline Vector shuffle_bytes(Vector a, Vector m) { return _mm256_shuffle_epi8(a, m); }
QUELMUX_VECTOR_TARGET inline Vector unpack_lo32(Vector a, Vector b) { return _mm256_unpacklo_epi32(a, b); }
QUELMUX_VECTOR_TARGET inline Vector unpack_hi32(Vector a, Vector b) { return _mm256_unpackhi_epi32(a, b); }
QUELMUX_VECTOR_TARGET inline Vector unpack_lo64(Vector a, Vector b) { return _mm256_unpacklo_epi64(a, b); }
QUELMUX_VECTOR_TARGET inline Vector unpack_hi64(Vector a, Vector b) { return _mm256_unpackhi_epi64(a, b); }

}  // namespace
}  // namespace prediction_detail

#include "codec/prediction_planes_vector.h"

namespace prediction_detail {

QUELMUX_VECTOR_TARGET std::size_t forward_median_avx2_24(const Byte* in, Byte* const planes[3], std::size_t width,
                                                         std::size_t begin, std::size_t end) {
  return forward_median_24(in, planes, width, begin, end);
}

QUELMUX_VECTOR_TARGET std::size_t forward_median_avx2_32(const Byte* in, Byte* const planes[4], std::size_t width,
                                                         std::size_t begin, std::size_t end) {
  return forward_median_32(in, planes, width, begin, end);
}

}  // namespace prediction_detail

#endif

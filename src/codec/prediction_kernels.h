// Vector loops behind the plane prediction, chosen at run time. Each handles
// whole blocks of pixels and returns the first pixel it left for the scalar
// loop; the callers check that the CPU has the instructions.
#pragma once

#include <cstddef>

namespace prediction_detail {

#if defined(__x86_64__)
// Median-predicted residuals of pixels begin.. of a frame `width` pixels wide,
// in blocks of 32, all of them before `end`; needs begin > width.
std::size_t forward_median_avx2_24(const unsigned char* in, unsigned char* const planes[3], std::size_t width,
                                   std::size_t begin, std::size_t end);
std::size_t forward_median_avx2_32(const unsigned char* in, unsigned char* const planes[4], std::size_t width,
                                   std::size_t begin, std::size_t end);
// The same in blocks of 16.
std::size_t forward_median_ssse3_24(const unsigned char* in, unsigned char* const planes[3], std::size_t width,
                                    std::size_t begin, std::size_t end);
std::size_t forward_median_ssse3_32(const unsigned char* in, unsigned char* const planes[4], std::size_t width,
                                    std::size_t begin, std::size_t end);
#endif

}  // namespace prediction_detail

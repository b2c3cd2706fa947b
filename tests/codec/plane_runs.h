// Runs of the plane prediction and its inverse on guarded buffers.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/prediction_inverse.h"
#include "codec/prediction_planes.h"
#include "codec/prediction_simd.h"
#include "guarded.h"
#include "simd_levels.h"

namespace planeruns {

using Bytes = std::vector<unsigned char>;

inline std::vector<PredictionSimd> all_levels() {
  return {PredictionSimd::Scalar, PredictionSimd::Sse2, PredictionSimd::Ssse3, PredictionSimd::Avx2};
}

inline std::string level_name(const testing::TestParamInfo<PredictionSimd>& info) {
  return prediction_simd_name(info.param);
}

// The residual planes of a frame; checks that nothing outside them is written
// and that the frame is not changed.
inline std::vector<Bytes> forward(const Bytes& frame, int width, int height, int pixel_size, PredictionSimd level) {
  const std::size_t n = frame.size() / static_cast<std::size_t>(pixel_size);
  const Guarded in(frame);
  std::vector<Guarded> planes(static_cast<std::size_t>(pixel_size), Guarded(n));
  unsigned char* out[4] = {};
  for (int k = 0; k < pixel_size; ++k) out[k] = planes[static_cast<std::size_t>(k)].data();
  if (pixel_size == 3) {
    DeEntropyPlanes(in.data(), out, width, height, level);
  } else {
    DeEntropyPlanes32(in.data(), out, width, height, level);
  }
  EXPECT_EQ(in.content(), frame) << "input changed";
  std::vector<Bytes> result;
  for (const Guarded& p : planes) {
    EXPECT_TRUE(p.guards_intact()) << "write outside a plane";
    result.push_back(p.content());
  }
  return result;
}

// The frame rebuilt from residual planes; checks that nothing outside the
// frame is written.
inline Bytes inverse(const std::vector<Bytes>& planes, int width, int height, PredictionSimd level) {
  const std::size_t n = planes[0].size();
  std::vector<Guarded> in;
  const unsigned char* p[4] = {};
  for (const Bytes& plane : planes) in.emplace_back(plane);
  for (std::size_t k = 0; k < in.size(); ++k) p[k] = in[k].data();
  Guarded out(n * planes.size());
  if (planes.size() == 3) {
    ReEntropyPlanes(p, out.data(), width, height, level);
  } else {
    ReEntropyPlanes32(p, out.data(), width, height, level);
  }
  EXPECT_TRUE(out.guards_intact()) << "write outside the frame";
  return out.content();
}

}  // namespace planeruns

// The instruction-set levels of the prediction by name, and whether this
// machine runs them: for the tests and benchmarks that run every level.
#pragma once

#include "codec/prediction_simd.h"

inline bool prediction_simd_supported(PredictionSimd level) {
  return static_cast<int>(level) <= static_cast<int>(best_prediction_simd());
}

inline const char* prediction_simd_name(PredictionSimd level) {
  switch (level) {
    case PredictionSimd::Scalar: return "scalar";
    case PredictionSimd::Sse2: return "sse2";
    case PredictionSimd::Ssse3: return "ssse3";
    case PredictionSimd::Avx2: return "avx2";
  }
  return "?";
}

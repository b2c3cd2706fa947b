#include "codec/prediction_simd.h"

#include "entropy/cpu_features.h"

PredictionSimd best_prediction_simd() {
#if defined(__x86_64__)
  if (cpu_features().avx2) return PredictionSimd::Avx2;
  if (cpu_features().ssse3) return PredictionSimd::Ssse3;
  return PredictionSimd::Sse2;
#else
  return PredictionSimd::Scalar;
#endif
}

bool prediction_simd_supported(PredictionSimd level) {
  return static_cast<int>(level) <= static_cast<int>(best_prediction_simd());
}

const char* prediction_simd_name(PredictionSimd level) {
  switch (level) {
    case PredictionSimd::Scalar: return "scalar";
    case PredictionSimd::Sse2: return "sse2";
    case PredictionSimd::Ssse3: return "ssse3";
    case PredictionSimd::Avx2: return "avx2";
  }
  return "?";
}

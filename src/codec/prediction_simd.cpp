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

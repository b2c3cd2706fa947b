#include "codec/prediction_simd.h"

PredictionSimd best_prediction_simd() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? PredictionSimd::Avx2 : PredictionSimd::Sse2;
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
    case PredictionSimd::Avx2: return "avx2";
  }
  return "?";
}

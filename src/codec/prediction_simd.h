// Which instruction set the prediction loops may use. Every level gives the
// same bytes; the choice is made per call, so tests and benchmarks can run each
// level the machine has.
#pragma once

enum class PredictionSimd {
  Scalar,  // portable C++, on every machine
  Sse2,    // x86-64 baseline
  Ssse3,   // this and the next: chosen only where the CPU reports them
  Avx2,
};

// The highest level this machine runs.
PredictionSimd best_prediction_simd();

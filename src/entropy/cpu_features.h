// The instruction sets beyond the x86-64 baseline (SSE2) that the processor
// offers, asked once for the whole program. Every vector path of the project
// picks its form from this; every form gives the same bytes.
#pragma once

struct CpuFeatures {
  bool ssse3 = false;
  bool avx2 = false;
  bool bmi2 = false;
};

// All false on processors other than x86-64.
const CpuFeatures& cpu_features();

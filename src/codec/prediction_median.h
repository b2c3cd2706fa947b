// The median predictor in byte arithmetic, shared by the scalar loops.
#pragma once

namespace prediction_detail {

// median(L, A, L + A - D) for bytes L, A, D. With mn = min(L, A) and
// mx = max(L, A), L + A - D = mn + (mx - D), and its clamp to [mn, mx] is
// mn + min(max(mx - D, 0), mx - mn): no value leaves 0..255, no branch, and the
// SIMD loops use the same form on unsigned bytes.
inline unsigned predict(unsigned l, unsigned a, unsigned d) {
  const unsigned mn = l < a ? l : a;
  const unsigned mx = l < a ? a : l;
  const unsigned up = mx > d ? mx - d : 0;
  const unsigned span = mx - mn;
  return mn + (up < span ? up : span);
}

}  // namespace prediction_detail

// The median predictor in byte arithmetic, shared by the scalar loops.
#pragma once

namespace prediction_detail {

// median(L, A, L + A - D) for bytes L, A, D: the gradient clamped to
// [min(L, A), max(L, A)]. Written as selects so that compilers emit
// conditional moves; a branch here mispredicts on every edge of a picture.
inline unsigned predict(unsigned l, unsigned a, unsigned d) {
  const int li = static_cast<int>(l);
  const int ai = static_cast<int>(a);
  const int mn = li < ai ? li : ai;
  const int mx = li < ai ? ai : li;
  const int g = li + ai - static_cast<int>(d);
  const int low = g < mn ? mn : g;
  return static_cast<unsigned>(low > mx ? mx : low);
}

}  // namespace prediction_detail

// Tables and arithmetic shared by the vector forms of the plane prediction.
//
// The median predictor in unsigned bytes: with mn = min(L, A) and
// mx = max(L, A), the gradient L + A - D is mn + (mx - D), so its clamp to
// [mn, mx] is mn + min(max(mx - D, 0), mx - mn). No value leaves 0..255, so it
// maps onto byte min, max, saturating subtraction and wrapping addition.
#pragma once

#include <array>

namespace prediction_detail {

// Shuffle masks: mask[c][t] moves colour byte c of pixel i of a block of 16
// three-byte pixels to byte i, taking it from the t-th 16-byte third of the
// block; the bytes of pixels whose byte c lies in another third become zero.
using Masks24 = std::array<std::array<std::array<signed char, 16>, 3>, 3>;

constexpr Masks24 make_masks24() {
  Masks24 m{};
  for (int c = 0; c < 3; ++c) {
    for (int t = 0; t < 3; ++t) {
      for (int i = 0; i < 16; ++i) {
        const int offset = 3 * i + c - 16 * t;
        m[c][t][i] = static_cast<signed char>(offset >= 0 && offset < 16 ? offset : -128);
      }
    }
  }
  return m;
}

alignas(16) inline constexpr Masks24 kMasks24 = make_masks24();

// Groups the bytes of four 4-byte pixels by position: b0-3, g0-3, r0-3, a0-3.
alignas(16) inline constexpr std::array<signed char, 16> kGroup32 = {0, 4, 8,  12, 1, 5, 9,  13,
                                                                     2, 6, 10, 14, 3, 7, 11, 15};

}  // namespace prediction_detail

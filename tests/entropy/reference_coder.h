// A literal, slow model of the scaling of the counts as the format defines
// it (the missing units handed out one by one), to check the fast
// implementation against.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace reference {

struct Table {
  std::array<std::uint32_t, 257> cum{};
  std::uint32_t shift = 0;
};

// The cycle of the missing units, over 0..127, or over all values when none
// of 0..127 has a frequency.
inline void cycle(std::array<std::uint32_t, 257>& cum, std::int64_t d) {
  bool low_half = false;
  for (int s = 0; s < 128; ++s) low_half = low_half || cum[s + 1] != 0;
  const unsigned wrap = low_half ? 127 : 255;
  unsigned j = 0;
  while (d > 0) {
    if (cum[j + 1] != 0) {
      ++cum[j + 1];
      --d;
    }
    j = (j + 1) & wrap;
  }
}

// Scales the counts of a buffer whose length is their sum.
inline Table scale(const std::array<std::uint32_t, 256>& counts) {
  Table t;
  std::uint64_t length = 0;
  for (int s = 0; s < 256; ++s) {
    t.cum[s + 1] = counts[s];
    length += counts[s];
  }
  if (length == 0) return t;
  if (length <= (1u << 23)) {
    std::uint32_t total = 1;
    while (total < length) total *= 2;
    const float ratio = static_cast<float>(total) / static_cast<float>(length);
    std::uint32_t sum = 0;
    for (int s = 0; s < 256; ++s) {
      t.cum[s + 1] = static_cast<std::uint32_t>(static_cast<double>(t.cum[s + 1]) * static_cast<double>(ratio));
      sum += t.cum[s + 1];
    }
    const std::int32_t d = static_cast<std::int32_t>(total - sum);
    if (d < 0) t.cum[1] += static_cast<std::uint32_t>(d);
    if (d > 0) cycle(t.cum, d);
    while ((1u << t.shift) < total) ++t.shift;
  } else {
    const std::uint64_t total = 1u << 23;
    std::int64_t sum = 0;
    for (int s = 0; s < 256; ++s) {
      if (t.cum[s + 1] == 0) continue;
      std::uint64_t f = std::uint64_t{t.cum[s + 1]} * total / length;
      if (f == 0) f = 1;
      t.cum[s + 1] = static_cast<std::uint32_t>(f);
      sum += static_cast<std::int64_t>(f);
    }
    const std::int64_t d = static_cast<std::int64_t>(total) - sum;
    if (d > 0) cycle(t.cum, d);
    if (d < 0) {
      int largest = 0;
      for (int s = 1; s < 256; ++s) {
        if (t.cum[s + 1] > t.cum[largest + 1]) largest = s;
      }
      t.cum[largest + 1] -= static_cast<std::uint32_t>(-d);
    }
    t.shift = 23;
  }
  for (int k = 1; k <= 256; ++k) t.cum[k] += t.cum[k - 1];
  return t;
}

}  // namespace reference

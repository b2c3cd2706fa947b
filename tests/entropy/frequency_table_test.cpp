#include "entropy/frequency_table.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "reference_coder.h"

namespace {

using Counts = std::array<std::uint32_t, 256>;

struct Scaled {
  std::array<std::uint32_t, 257> cum{};
  std::uint32_t shift = 0;
  std::uint32_t freq(int v) const { return cum[v + 1] - cum[v]; }
};

Scaled scale(const Counts& counts) {
  Scaled s;
  std::uint64_t length = 0;
  for (int v = 0; v < 256; ++v) {
    s.cum[v + 1] = counts[v];
    length += counts[v];
  }
  s.shift = entropy::scale_counts(s.cum, length);
  return s;
}

Scaled scale_bytes(const std::vector<unsigned char>& bytes) {
  Counts c{};
  for (unsigned char b : bytes) ++c[b];
  return scale(c);
}

TEST(FrequencyTable, WorkedExamples) {
  const Scaled a = scale_bytes({1, 2, 3});  // ratio 4/3: 1, 1, 1, the missing unit to value 1
  EXPECT_EQ(a.shift, 2u);
  EXPECT_EQ((std::array{a.freq(1), a.freq(2), a.freq(3)}), (std::array{2u, 1u, 1u}));
  const Scaled b = scale_bytes({0x61, 0x62, 0x72, 0x61, 0x63, 0x61, 0x64, 0x61, 0x62, 0x72, 0x61});
  EXPECT_EQ((std::array{b.freq(0x61), b.freq(0x62), b.freq(0x72), b.freq(0x63), b.freq(0x64)}),
            (std::array{8u, 3u, 2u, 2u, 1u}));
  const Scaled c = scale_bytes({0xFF, 0x00, 0xFF});
  EXPECT_EQ((std::array{c.freq(0), c.freq(0xFF)}), (std::array{2u, 2u}));
  // Only values 128 to 255 and a unit missing: the cycle walks all 256
  // values, so 0x80 gets it.
  const Scaled d = scale_bytes({0x80, 0x81, 0x82});
  EXPECT_EQ((std::array{d.freq(0x80), d.freq(0x81), d.freq(0x82)}), (std::array{2u, 1u, 1u}));
  EXPECT_EQ(scale(Counts{}).cum, (std::array<std::uint32_t, 257>{}));
}

// Up to 2^23 bytes the single-precision scaling, beyond the integer rule
// with its excess taken from the largest frequency: both bit for bit as the
// reference model, a total of 2^shift and no value gained or lost.
TEST(FrequencyTable, MatchesTheReferenceModel) {
  std::mt19937 rng(17);
  for (int round = 0; round < 3000; ++round) {
    Counts counts{};
    const unsigned bits = round % 3 == 0 ? 24 : 14;
    for (unsigned k = 1 + rng() % 256; k > 0; --k) counts[rng() % 256] = rng() % (1u << (rng() % bits));
    if (round % 5 == 0) std::fill(counts.begin(), counts.begin() + 128, 0u);
    const Scaled fast = scale(counts);
    const reference::Table model = reference::scale(counts);
    ASSERT_EQ(fast.cum, model.cum) << round;
    ASSERT_EQ(fast.shift, model.shift) << round;
    if (fast.cum[256] == 0) continue;
    EXPECT_EQ(fast.cum[256], 1u << fast.shift);
    for (int v = 0; v < 256; ++v) EXPECT_EQ(fast.freq(v) == 0, counts[v] == 0);
  }
}

}  // namespace

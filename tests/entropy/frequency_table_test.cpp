#include "entropy/frequency_table.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "reference_coder.h"
#include "test_data.h"

namespace {

using Counts = std::array<std::uint32_t, 256>;
using Cum = std::array<std::uint32_t, 257>;

struct Scaled {
  Cum cum{};
  std::uint32_t shift = 0;
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

Counts counts_of(const std::vector<unsigned char>& bytes) {
  Counts c{};
  for (unsigned char b : bytes) ++c[b];
  return c;
}

std::uint32_t freq(const Scaled& s, int v) { return s.cum[v + 1] - s.cum[v]; }

TEST(FrequencyTable, WorkedExamples) {
  const Scaled one_two_three = scale(counts_of({1, 2, 3}));  // ratio 4/3: 1, 1, 1, the unit to value 1
  EXPECT_EQ(one_two_three.shift, 2u);
  EXPECT_EQ(freq(one_two_three, 1), 2u);
  EXPECT_EQ(freq(one_two_three, 2), 1u);
  EXPECT_EQ(freq(one_two_three, 3), 1u);

  const Scaled abra = scale(counts_of({0x61, 0x62, 0x72, 0x61, 0x63, 0x61, 0x64, 0x61, 0x62, 0x72, 0x61}));
  EXPECT_EQ(abra.shift, 4u);
  EXPECT_EQ(freq(abra, 0x61), 8u);
  EXPECT_EQ(freq(abra, 0x62), 3u);
  EXPECT_EQ(freq(abra, 0x72), 2u);
  EXPECT_EQ(freq(abra, 0x63), 2u);
  EXPECT_EQ(freq(abra, 0x64), 1u);

  const Scaled ff = scale(counts_of({0xFF, 0x00, 0xFF}));
  EXPECT_EQ(freq(ff, 0x00), 2u);
  EXPECT_EQ(freq(ff, 0xFF), 2u);

  const Scaled ten = scale(counts_of(std::vector<unsigned char>(10, 5)));
  EXPECT_EQ(ten.shift, 4u);
  EXPECT_EQ(freq(ten, 5), 16u);
}

// Only values 128 to 255 occur and units are missing: the cycle walks all 256
// values, so 80 81 82 gives value 0x80 the unit.
TEST(FrequencyTable, HighValuesOnlyReceiveTheMissingUnits) {
  const Scaled s = scale(counts_of({0x80, 0x81, 0x82}));
  EXPECT_EQ(freq(s, 0x80), 2u);
  EXPECT_EQ(freq(s, 0x81), 1u);
  EXPECT_EQ(freq(s, 0x82), 1u);
  EXPECT_EQ(s.cum[256], 4u);
}

TEST(FrequencyTable, EdgeLengths) {
  const Scaled exact = scale(counts_of({7, 7, 9, 200}));  // already sums to T = 4
  EXPECT_EQ(freq(exact, 7), 2u);
  EXPECT_EQ(freq(exact, 9), 1u);
  EXPECT_EQ(freq(exact, 200), 1u);

  const Scaled one = scale(counts_of({42}));
  EXPECT_EQ(one.shift, 0u);
  EXPECT_EQ(freq(one, 42), 1u);

  const Scaled none = scale(Counts{});
  EXPECT_EQ(none.shift, 0u);
  EXPECT_EQ(none.cum, Cum{});
}

// Tables of up to 2^23 bytes follow the single-precision scaling; longer ones
// the exact integer rule, including the excess taken from the largest
// frequency. Both must match the reference model bit for bit.
TEST(FrequencyTable, MatchesTheReferenceModel) {
  std::mt19937 rng(17);
  for (int round = 0; round < 3000; ++round) {
    Counts counts{};
    const unsigned used = 1 + rng() % 256;
    const std::uint32_t scale_bits = round % 3 == 0 ? 24 : 14;  // many tables above 2^23 in total
    for (unsigned k = 0; k < used; ++k) counts[rng() % 256] = rng() % (1u << (rng() % scale_bits));
    if (round % 5 == 0) {
      for (int v = 0; v < 128; ++v) counts[v] = 0;  // the 256-value cycle
    }
    const Scaled fast = scale(counts);
    const reference::Table model = reference::scale(counts);
    ASSERT_EQ(fast.cum, model.cum) << round;
    ASSERT_EQ(fast.shift, model.shift) << round;
    std::uint64_t length = 0;
    for (auto c : counts) length += c;
    if (length == 0) continue;
    EXPECT_EQ(fast.cum[256], 1u << fast.shift);
    for (int v = 0; v < 256; ++v) EXPECT_EQ(freq(fast, v) == 0, counts[v] == 0) << round << " " << v;
  }
}

TEST(FrequencyTable, CountBytes) {
  for (std::size_t n : {0, 1, 1023, 1024, 1025, 5000}) {
    const auto bytes = testdata::random_bytes(n, static_cast<std::uint32_t>(n));
    std::array<std::uint32_t, 256> fast{};
    entropy::count_bytes(bytes, fast);
    EXPECT_EQ(fast, counts_of(bytes)) << n;
  }
}

}  // namespace

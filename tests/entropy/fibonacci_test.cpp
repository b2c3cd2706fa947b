#include "entropy/fibonacci.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes write(const std::uint32_t* counts, int n) {
  Bytes out(kMaxFibonacciTableBytes + 1, 0xAA);
  out.resize(FibonacciEncode2(counts, out.data(), n));
  return out;
}

TEST(Fibonacci, WorkedExamples) {
  std::array<std::uint32_t, 256> counts{};
  counts[0] = 5;
  counts[255] = 1;
  const Bytes table{0x3B, 0x0F, 0xF3, 0x00};  // G(6) G(1) G(254) G(2), 25 bits
  EXPECT_EQ(write(counts.data(), 256), table);
  std::array<std::uint32_t, 256> back;
  back.fill(7);
  EXPECT_EQ(FibonacciDecode2(table.data(), back.data(), 256), 4u);
  EXPECT_EQ(back, counts);
  EXPECT_EQ(write(std::array<std::uint32_t, 256>{}.data(), 256), (Bytes{0xE3, 0x00}));  // G(1) G(256)

  // G(count + 1) alone: F(bit length), then the bits below the leading 1.
  const std::pair<std::uint32_t, Bytes> codes[] = {
      {1, {0x60}},         {2, {0x70}},
      {3, {0x30}},         {7, {0xB0}},
      {99, {0x5C, 0x80}},  {253, {0x0F, 0xF0}},
      {255, {0x8C, 0x00}}, {0x7FFFFFFF, {0x2B, 0x00, 0x00, 0x00, 0x00}},  // the longest code, 39 bits
  };
  for (const auto& [count, bytes] : codes) EXPECT_EQ(write(&count, 1), bytes) << count;
}

// A table ending on a byte boundary counts no extra byte but clears the one
// behind it; n = 0 clears the first byte only.
TEST(Fibonacci, TableEnds) {
  const std::uint32_t two[2] = {1, 1};  // 0110 0110
  Bytes out(3, 0xAA);
  EXPECT_EQ(FibonacciEncode2(two, out.data(), 2), 1u);
  EXPECT_EQ(out, (Bytes{0x66, 0x00, 0xAA}));
  EXPECT_EQ(FibonacciEncode2(two, out.data(), 0), 0u);
  EXPECT_EQ(out, (Bytes{0x00, 0x00, 0xAA}));
}

// Random tables (zero runs, the largest counts) read back by both readers;
// the checked one needs every byte and stays inside whatever it is given.
TEST(Fibonacci, RoundTripsAndCheckedReading) {
  std::mt19937 rng(11);
  for (int round = 0; round < 500; ++round) {
    std::array<std::uint32_t, 256> counts{};
    const unsigned density = rng() % 100;
    for (auto& c : counts) c = rng() % 100 < density ? rng() >> (rng() % 32) : 0;
    if (round == 0) counts.fill(0xFFFFFFFEu);
    const Bytes table = write(counts.data(), 256);
    std::array<std::uint32_t, 256> back{};
    EXPECT_EQ(FibonacciDecode2(table.data(), back.data(), 256), table.size());
    EXPECT_EQ(back, counts);
    std::uint32_t n = 0;
    EXPECT_TRUE(FibonacciDecode2Checked(table.data(), table.size(), back.data(), 256, n));
    EXPECT_EQ(n, table.size());
    EXPECT_FALSE(FibonacciDecode2Checked(table.data(), table.size() - 1, back.data(), 256, n));
  }
  std::array<std::uint32_t, 256> back{};
  std::uint32_t n = 0;
  const Bytes long_prefix{0x01, 0x55};                     // no closing 1 1 within the 8 weights
  const Bytes sum_33{0xAB, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};  // F-sum 1 + 3 + 8 + 21
  EXPECT_FALSE(FibonacciDecode2Checked(long_prefix.data(), long_prefix.size(), back.data(), 256, n));
  EXPECT_FALSE(FibonacciDecode2Checked(sum_33.data(), sum_33.size(), back.data(), 256, n));
  for (int round = 0; round < 20000; ++round) {
    Bytes junk(rng() % 64);  // exact size: the sanitizers see any overrun
    for (auto& b : junk) b = static_cast<unsigned char>(rng());
    if (FibonacciDecode2Checked(junk.data(), junk.size(), back.data(), 256, n)) {
      EXPECT_LE(n, junk.size());
    }
  }
}

}  // namespace

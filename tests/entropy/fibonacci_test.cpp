#include "entropy/fibonacci.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

namespace {

using Counts = std::array<std::uint32_t, 256>;
using Bytes = std::vector<unsigned char>;

Bytes write(const Counts& counts) {
  Bytes out(kMaxFibonacciTableBytes + 1, 0xAA);
  const std::uint32_t n = FibonacciEncode2(counts.data(), out.data(), 256);
  out.resize(n);
  return out;
}

TEST(Fibonacci, WorkedExamples) {
  Counts counts{};
  counts[0] = 5;
  counts[255] = 1;
  EXPECT_EQ(write(counts), (Bytes{0x3B, 0x0F, 0xF3, 0x00}));  // G(6) G(1) G(254) G(2), 25 bits
  Counts back;
  back.fill(7);
  EXPECT_EQ(FibonacciDecode2(Bytes{0x3B, 0x0F, 0xF3, 0x00}.data(), back.data(), 256), 4u);
  EXPECT_EQ(back, counts);

  EXPECT_EQ(write(Counts{}), (Bytes{0xE3, 0x00}));  // G(1) G(256)
}

// The universal code of small values, written alone: G(v) = F(bit length)
// and the bits below the leading 1.
TEST(Fibonacci, UniversalCodes) {
  struct Case {
    std::uint32_t count;  // G(count + 1) is written
    Bytes bytes;
  };
  const Case cases[] = {
      {1, {0x60}},           // G(2) = 011 0
      {2, {0x70}},           // G(3) = 011 1
      {3, {0x30}},           // G(4) = 0011 00
      {7, {0xB0}},           // G(8) = 1011 000
      {99, {0x5C, 0x80}},    // G(100) = 01011 100100
      {253, {0x0F, 0xF0}},   // G(254) = 000011 1111110
      {255, {0x8C, 0x00}},   // G(256) = 100011 00000000
  };
  for (const Case& c : cases) {
    const std::uint32_t counts[1] = {c.count};
    Bytes out(8, 0xAA);
    const std::uint32_t n = FibonacciEncode2(counts, out.data(), 1);
    out.resize(n);
    EXPECT_EQ(out, c.bytes) << c.count;
  }
}

TEST(Fibonacci, LongestCodeIs39Bits) {
  const std::uint32_t counts[1] = {0x7FFFFFFFu};  // G(2^31): F(32) = 00101011, then 31 zero bits
  Bytes out(8, 0xAA);
  EXPECT_EQ(FibonacciEncode2(counts, out.data(), 1), 5u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), (Bytes{0x2B, 0x00, 0x00, 0x00, 0x00}));
  std::uint32_t back[1] = {0};
  EXPECT_EQ(FibonacciDecode2(out.data(), back, 1), 5u);
  EXPECT_EQ(back[0], 0x7FFFFFFFu);
}

// A table that ends on a byte boundary reports no extra byte but clears the
// one behind it; a zero run stops before a final non-zero count; n = 0 clears
// the first byte and writes nothing else.
TEST(Fibonacci, TableEnds) {
  const std::uint32_t eight_bits[2] = {1, 1};  // G(2) G(2): 0110 0110
  Bytes out(4, 0xAA);
  EXPECT_EQ(FibonacciEncode2(eight_bits, out.data(), 2), 1u);
  EXPECT_EQ(out, (Bytes{0x66, 0x00, 0xAA, 0xAA}));

  Counts last_only{};
  last_only[255] = 3;  // G(1) G(255) G(4)
  const Bytes table = write(last_only);
  Counts back{};
  EXPECT_EQ(FibonacciDecode2(table.data(), back.data(), 256), table.size());
  EXPECT_EQ(back, last_only);

  Bytes untouched(2, 0xAA);
  EXPECT_EQ(FibonacciEncode2(eight_bits, untouched.data(), 0), 0u);
  EXPECT_EQ(untouched, (Bytes{0x00, 0xAA}));
}

TEST(Fibonacci, RandomTablesRoundTrip) {
  std::mt19937 rng(11);
  for (int round = 0; round < 500; ++round) {
    Counts counts{};
    const unsigned density = rng() % 100;
    for (auto& c : counts) {
      if (rng() % 100 < density) c = rng() >> (rng() % 32);
    }
    if (round == 0) counts.fill(0xFFFFFFFEu);  // the largest count there can be
    const Bytes table = write(counts);
    EXPECT_LE(table.size(), kMaxFibonacciTableBytes);
    Counts back{};
    EXPECT_EQ(FibonacciDecode2(table.data(), back.data(), 256), table.size());
    EXPECT_EQ(back, counts);
    const auto checked = FibonacciDecode2Checked(table.data(), table.size(), back.data(), 256);
    ASSERT_TRUE(checked.has_value());
    EXPECT_EQ(*checked, table.size());
    EXPECT_EQ(back, counts);
    EXPECT_FALSE(FibonacciDecode2Checked(table.data(), table.size() - 1, back.data(), 256).has_value());
  }
}

// The checked reader stays inside its bytes whatever they hold, and refuses
// codes that no writer makes.
TEST(Fibonacci, CheckedReaderRefusesBadTables) {
  Counts back{};
  const Bytes too_long_prefix{0x01, 0x55};  // no two 1 bits in a row within 8 positions
  EXPECT_FALSE(FibonacciDecode2Checked(too_long_prefix.data(), too_long_prefix.size(), back.data(), 256));
  const Bytes m_33{0xAB, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};  // 1 0 1 0 1 0 1 1: F-sum 1+3+8+21 = 33
  EXPECT_FALSE(FibonacciDecode2Checked(m_33.data(), m_33.size(), back.data(), 256));
  EXPECT_FALSE(FibonacciDecode2Checked(nullptr, 0, back.data(), 256));

  std::mt19937 rng(3);
  for (int round = 0; round < 20000; ++round) {
    Bytes junk(rng() % 64);
    for (auto& b : junk) b = static_cast<unsigned char>(rng());
    // Under the sanitizers an overrun would be reported: the vector is exact.
    const auto n = FibonacciDecode2Checked(junk.data(), junk.size(), back.data(), 256);
    if (n) {
      EXPECT_LE(*n, junk.size());
    }
  }
}

}  // namespace

#include "entropy/range_coder.h"

#include <gtest/gtest.h>

#include <vector>

#include "entropy/compress.h"
#include "reference_coder.h"
#include "test_data.h"

namespace {

using testdata::Bytes;

struct Coder {
  Compress c;
  Coder() { EXPECT_EQ(c.InitCompressBuffers(1 << 16), 1); }

  Bytes encode(const Bytes& in) {
    c.calcprob(in.data(), static_cast<std::uint32_t>(in.size()));
    Bytes out(in.size() + in.size() / 4 + 64);
    const int n = c.encode(in.data(), out.data(), static_cast<std::uint32_t>(in.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
  }
  Bytes decode(const Bytes& coded, std::size_t length) {
    Bytes out(length, 0xAA);
    c.decode(coded.data(), out.data(), static_cast<std::uint32_t>(length));
    return out;
  }
};

TEST(RangeCoder, WorkedExamples) {
  Coder coder;
  EXPECT_EQ(coder.encode(Bytes(10, 0x05)), (Bytes{0, 0, 0, 0, 0}));
  EXPECT_EQ(coder.c.shift, 4u);

  EXPECT_EQ(coder.encode({1, 2, 3}), (Bytes{0x00, 0x58, 0x00, 0x00, 0x00}));
  EXPECT_EQ(coder.c.cum[2], 2u);
  EXPECT_EQ(coder.c.cum[3], 3u);
  EXPECT_EQ(coder.c.cum[4], 4u);

  const Bytes abra{0x61, 0x62, 0x72, 0x61, 0x63, 0x61, 0x64, 0x61, 0x62, 0x72, 0x61};
  const Bytes abra_coded{0x00, 0x56, 0x1B, 0xFF, 0x80, 0x00, 0x00};
  EXPECT_EQ(coder.encode(abra), abra_coded);
  EXPECT_EQ(coder.decode(abra_coded, 11), abra);

  const Bytes ff{0xFF, 0x00, 0xFF};
  EXPECT_EQ(coder.encode(ff), (Bytes{0x00, 0xA0, 0x00, 0x00, 0x00}));
  EXPECT_EQ(coder.c.shift, 2u);
  EXPECT_EQ(coder.decode({0x00, 0xA0, 0x00, 0x00, 0x00}, 3), ff);
}

TEST(RangeCoder, DecodeOfNothingWritesNothing) {
  Coder coder;
  coder.encode({1, 2, 3});
  Bytes out(4, 0xAA);
  coder.c.decode(Bytes{0, 0x58, 0, 0, 0}.data(), out.data(), 0);
  EXPECT_EQ(out, Bytes(4, 0xAA));
}

// The fast coder must give the reference model's bytes: carries through runs
// of 0xFF, byte value 255's extra range, rare symbols that need several
// renormalisation steps, and every table size.
TEST(RangeCoder, MatchesTheReferenceModel) {
  Coder coder;
  std::uint32_t seed = 1;
  for (std::size_t n : {1, 2, 3, 7, 100, 1000, 4095, 4096, 4097, 30000, 65536}) {
    for (const auto& content : testdata::contents()) {
      const Bytes in = content.make(n, ++seed);
      const Bytes coded = coder.encode(in);
      const reference::Table table = reference::table_of(in);
      ASSERT_EQ(coded, reference::encode(in, table)) << content.name << " " << n;
      ASSERT_EQ(coder.decode(coded, n), in) << content.name << " " << n;
    }
  }
}

// Skewed tables make both rare symbols (several renormalisation steps) and
// long runs of 0xFF bytes in the output, through which carries must pass.
TEST(RangeCoder, SkewedTablesMatchTheReferenceModel) {
  Coder coder;
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    const std::size_t n = 1 + rng() % 5000;
    Bytes in(n);
    const unsigned common = rng() % 256;
    const unsigned odds = 2 + rng() % 2000;
    for (auto& x : in) x = static_cast<unsigned char>(rng() % odds == 0 ? rng() % 256 : common);
    const Bytes coded = coder.encode(in);
    ASSERT_EQ(coded, reference::encode(in, reference::table_of(in))) << round;
    ASSERT_EQ(coder.decode(coded, n), in) << round;
  }
}

}  // namespace

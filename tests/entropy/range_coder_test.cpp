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

namespace {

struct Table {
  Compress c;
  entropy::DecodeTable decode_table;
  Table(const Bytes& in) {
    c.InitCompressBuffers(16);
    c.calcprob(in.data(), static_cast<std::uint32_t>(in.size()));
    decode_table.build(c.cum.get(), c.shift);
  }
};

// The checked decoder gives the trusting decoder's bytes on valid codings
// and needs all of them: any shorter buffer is refused.
TEST(RangeCoderChecked, ValidCodingsNeedEveryByte) {
  Coder coder;
  std::uint32_t seed = 100;
  for (std::size_t n : {1, 2, 5, 300, 5000}) {
    for (const auto& content : testdata::contents()) {
      const Bytes in = content.make(n, ++seed);
      const Bytes coded = coder.encode(in);
      Table table(in);
      Bytes out(n, 0xAA);
      ASSERT_TRUE(entropy::range_decode_checked(coded.data(), coded.size(), out.data(),
                                                static_cast<std::uint32_t>(n), table.decode_table));
      EXPECT_EQ(out, in);
      // The decoder stops after the last symbol it needs; it may not need
      // the coding's last bytes, but it needs the bytes up to there.
      std::size_t needed = coded.size();
      while (needed > 0 && entropy::range_decode_checked(coded.data(), needed - 1, out.data(),
                                                         static_cast<std::uint32_t>(n), table.decode_table)) {
        --needed;
      }
      EXPECT_GE(needed, 2u);
      for (std::size_t cut = needed > 40 ? needed - 40 : 0; cut < needed; ++cut) {
        Bytes truncated(coded.begin(), coded.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_FALSE(entropy::range_decode_checked(truncated.data(), truncated.size(), out.data(),
                                                   static_cast<std::uint32_t>(n), table.decode_table));
      }
    }
  }
}

// Garbage decodes to garbage or a refusal, never to an access outside the
// buffers (the sanitizer build checks that), and a point above the total
// with no frequency for 255 is refused rather than looping.
TEST(RangeCoderChecked, GarbageIsHandledSafely) {
  std::mt19937 rng(23);
  const Bytes no_255 = testdata::residual_like(1000, 2.0, 3);
  const Bytes skewed = [] {
    Bytes b(4000, 7);
    b[100] = 255;
    b[200] = 0;
    return b;
  }();
  for (const Bytes* source : {&no_255, &skewed}) {
    Table table(*source);
    for (int round = 0; round < 2000; ++round) {
      Bytes junk(2 + rng() % 200);
      for (auto& b : junk) b = static_cast<unsigned char>(rng());
      Bytes out(source->size());
      entropy::range_decode_checked(junk.data(), junk.size(), out.data(),
                                    static_cast<std::uint32_t>(out.size()), table.decode_table);
    }
  }
  // An all-0xFF coding soon puts the point into the range that r leaves
  // over above r * total, which only 255 could own.
  Bytes without_255 = testdata::random_bytes(4000, 8);
  for (auto& b : without_255) b = static_cast<unsigned char>(1 + b % 3);
  Table table(without_255);
  Bytes ones(4000, 0xFF);
  Bytes out(4000);
  EXPECT_FALSE(entropy::range_decode_checked(ones.data(), ones.size(), out.data(), 4000, table.decode_table));
}

}  // namespace

#include "entropy/zero_rle.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes code(const Bytes& in, int level) {
  Bytes out(2 * in.size() + 8, 0xAA);
  const int n = zero::RLE(in.data(), out.data(), static_cast<int>(in.size()), level);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

Bytes expand(const Bytes& coded, int length, int level, int* consumed = nullptr) {
  Bytes out(static_cast<std::size_t>(length), 0xAA);
  const int n = zero::deRLE(coded.data(), out.data(), length, level);
  if (consumed != nullptr) *consumed = n;
  return out;
}

Bytes zeros_then(int count, Bytes tail) {
  Bytes b(static_cast<std::size_t>(count), 0);
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

TEST(ZeroRle, RunCodeTable) {
  const int n[] = {0, 1, 2, 3, 4, 127, 128, 253, 254, 255};
  const int q[] = {0x00, 0xFF, 0x01, 0xFE, 0x02, 0xC0, 0x40, 0x81, 0x7F, 0x80};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(zero::run_code(n[i]), q[i]) << n[i];
    EXPECT_EQ(zero::run_length_of_code(static_cast<unsigned char>(q[i])), n[i]) << q[i];
  }
}

TEST(ZeroRle, LongRunSplitsAtEachLevel) {
  const Bytes in = zeros_then(300, {0x07});
  EXPECT_EQ(code(in, 1), (Bytes{0x00, 0x80, 0x00, 0xEA, 0x07}));
  EXPECT_EQ(code(in, 2), (Bytes{0x00, 0x00, 0x80, 0x00, 0x00, 0xEB, 0x07}));
  EXPECT_EQ(code(in, 3), (Bytes{0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0xEC, 0x07}));
}

TEST(ZeroRle, ShortRunsAreCopiedAboveLevelOne) {
  const Bytes in{0x05, 0x00, 0x09, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x09};
  EXPECT_EQ(code(in, 1), (Bytes{0x05, 0x00, 0x00, 0x09, 0x00, 0xFF, 0x09, 0x00, 0x01, 0x09}));
  EXPECT_EQ(code(in, 2), (Bytes{0x05, 0x00, 0x09, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0xFF, 0x09}));
  EXPECT_EQ(code(in, 3), (Bytes{0x05, 0x00, 0x09, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x09}));
}

TEST(ZeroRle, ZeroLeftAfterAFullRunGoesWithItsFollower) {
  EXPECT_EQ(code(zeros_then(258, {0x07}), 2), (Bytes{0x00, 0x00, 0x80, 0x00, 0x07}));
}

TEST(ZeroRle, TrailingLoneZeroIsCodedAsAMinimalRun) {
  const Bytes in{0x05, 0x00};
  const Bytes expected[] = {{0x05, 0x00, 0x00}, {0x05, 0x00, 0x00, 0x00}, {0x05, 0x00, 0x00, 0x00, 0x00}};
  for (int level = 1; level <= 3; ++level) {
    const Bytes coded = code(in, level);
    EXPECT_EQ(coded, expected[level - 1]);
    int consumed = 0;
    EXPECT_EQ(expand(coded, 2, level, &consumed), in);
    EXPECT_EQ(consumed, static_cast<int>(coded.size()));
  }
}

TEST(ZeroRle, InputWithoutZerosIsUnchanged) {
  const Bytes in{1, 2, 3, 250, 255, 7};
  for (int level = 1; level <= 3; ++level) EXPECT_EQ(code(in, level), in);
  EXPECT_EQ(zero::testRLE(in.data(), static_cast<int>(in.size()), 1), 0);
}

TEST(ZeroRle, BadArgumentsWriteNothing) {
  Bytes in{0, 0, 1};
  Bytes out(8, 0xAA);
  EXPECT_EQ(zero::RLE(in.data(), out.data(), 3, 0), 0);
  EXPECT_EQ(zero::RLE(in.data(), out.data(), 3, 4), 0);
  EXPECT_EQ(zero::RLE(in.data(), out.data(), 0, 1), 0);
  EXPECT_EQ(zero::deRLE(in.data(), out.data(), 3, 4), 0);
  EXPECT_EQ(zero::deRLE(in.data(), out.data(), -1, 1), 0);
  EXPECT_EQ(out, Bytes(8, 0xAA));
}

TEST(ZeroRle, TestRlePicksTheLargestTally) {
  const Bytes thousand(1000, 0);
  EXPECT_EQ(zero::testRLE(thousand.data(), 1000, 16), 3);  // tallies 8, 12, 16
  EXPECT_EQ(zero::testRLE(thousand.data(), 1000, 17), 0);
  const Bytes twenty(20, 0);
  EXPECT_EQ(zero::testRLE(twenty.data(), 20, 16), 1);  // tallies 18, 17, 16
  const Bytes seventeen = zeros_then(17, {0x09});
  EXPECT_EQ(zero::testRLE(seventeen.data(), 18, 16), 0);  // 15, 14, 13
}

// Every level must give back any input, including runs around each level's
// longest code (255 + L) and runs cut by the end of the input.
TEST(ZeroRle, RoundTripsAtEveryLevel) {
  std::mt19937 rng(7);
  std::vector<Bytes> inputs;
  for (int run : {1, 2, 3, 4, 255, 256, 257, 258, 259, 511, 512, 513, 514, 515, 1000}) {
    inputs.push_back(zeros_then(run, {}));
    inputs.push_back(zeros_then(run, {0x01}));
    Bytes b{0x09};
    Bytes r = zeros_then(run, {0x02, 0x00});
    b.insert(b.end(), r.begin(), r.end());
    inputs.push_back(b);
  }
  for (int density : {2, 5, 50}) {
    Bytes b(5000);
    for (auto& x : b) x = (rng() % 100 < static_cast<unsigned>(density)) ? static_cast<unsigned char>(rng()) : 0;
    inputs.push_back(b);
    for (auto& x : b) x = (rng() % 100 < static_cast<unsigned>(density)) ? 0 : static_cast<unsigned char>(rng() | 1);
    inputs.push_back(b);
  }
  for (const Bytes& in : inputs) {
    for (int level = 1; level <= 3; ++level) {
      const Bytes coded = code(in, level);
      int consumed = 0;
      const int length = static_cast<int>(in.size());
      EXPECT_EQ(expand(coded, length, level, &consumed), in) << "level " << level << " size " << length;
      EXPECT_EQ(consumed, static_cast<int>(coded.size()));
      Bytes checked(in.size(), 0xAA);
      std::size_t checked_consumed = 0;
      EXPECT_TRUE(zero::checkedDeRLE(coded.data(), coded.size(), checked.data(), length, level, checked_consumed));
      EXPECT_EQ(checked_consumed, coded.size());
      EXPECT_EQ(checked, in);
    }
  }
}

TEST(ZeroRle, CheckedExpansionRefusesATruncatedCoding) {
  const Bytes in = zeros_then(700, {0x03, 0x00, 0x00, 0x04});
  for (int level = 1; level <= 3; ++level) {
    const Bytes coded = code(in, level);
    for (std::size_t cut = 0; cut < coded.size(); ++cut) {
      Bytes truncated(coded.begin(), coded.begin() + static_cast<std::ptrdiff_t>(cut));
      Bytes out(in.size());
      std::size_t consumed = 0;
      EXPECT_FALSE(zero::checkedDeRLE(truncated.data(), truncated.size(), out.data(), static_cast<int>(in.size()),
                                      level, consumed))
          << "level " << level << " cut " << cut;
    }
  }
}

}  // namespace

#include "entropy/zero_rle.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "entropy/zero_scan.h"

namespace {

using Bytes = std::vector<unsigned char>;
using zero::detail::Scan;

Bytes zeros_then(int count, Bytes tail) {
  Bytes b(static_cast<std::size_t>(count), 0);
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

Bytes code(const Bytes& in, int level, Scan scan = Scan::kPortable) {
  Bytes out(2 * in.size() + 8, 0xAA);
  out.resize(
      static_cast<std::size_t>(zero::detail::rle(in.data(), out.data(), static_cast<int>(in.size()), level, scan)));
  return out;
}

// checked_expand's coded bytes used, or -1 when it fails.
int checked(const Bytes& coded, Bytes& out, int level, Scan scan) {
  std::size_t consumed = 0;
  const bool ok = zero::detail::checked_expand(coded.data(), coded.size(), out.data(), static_cast<int>(out.size()),
                                               level, scan, consumed);
  return ok ? static_cast<int>(consumed) : -1;
}

TEST(ZeroRle, WorkedExamples) {
  const int n[] = {0, 1, 2, 3, 4, 127, 128, 253, 254, 255};
  const int q[] = {0x00, 0xFF, 0x01, 0xFE, 0x02, 0xC0, 0x40, 0x81, 0x7F, 0x80};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(zero::run_code(n[i]), q[i]) << n[i];
    EXPECT_EQ(zero::run_length_of_code(static_cast<unsigned char>(q[i])), n[i]) << q[i];
  }
  const Bytes shorts{0x05, 0x00, 0x09, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x09};
  const struct {
    Bytes in;
    int level;
    Bytes coded;
  } cases[] = {
      {zeros_then(300, {7}), 1, {0x00, 0x80, 0x00, 0xEA, 0x07}},
      {zeros_then(300, {7}), 2, {0x00, 0x00, 0x80, 0x00, 0x00, 0xEB, 0x07}},
      {zeros_then(300, {7}), 3, {0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0xEC, 0x07}},
      {shorts, 1, {0x05, 0x00, 0x00, 0x09, 0x00, 0xFF, 0x09, 0x00, 0x01, 0x09}},
      {shorts, 2, {0x05, 0x00, 0x09, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0xFF, 0x09}},
      {shorts, 3, {0x05, 0x00, 0x09, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x09}},
      {zeros_then(258, {7}), 2, {0x00, 0x00, 0x80, 0x00, 0x07}},  // the zero left goes with its follower
      {{0x05, 0x00}, 1, {0x05, 0x00, 0x00}},                      // a trailing lone zero is a minimal run
      {{0x05, 0x00}, 2, {0x05, 0x00, 0x00, 0x00}},
      {{0x05, 0x00}, 3, {0x05, 0x00, 0x00, 0x00, 0x00}},
      {{1, 2, 3, 250, 255, 7}, 3, {1, 2, 3, 250, 255, 7}},
  };
  for (const auto& c : cases) {
    for (Scan scan : {Scan::kPortable, Scan::kVector}) EXPECT_EQ(code(c.in, c.level, scan), c.coded) << c.level;
    Bytes out(c.in.size(), 0xAA);
    EXPECT_EQ(zero::deRLE(c.coded.data(), out.data(), static_cast<int>(out.size()), c.level),
              static_cast<int>(c.coded.size()));
    EXPECT_EQ(out, c.in);
  }
  // Bad arguments write nothing.
  Bytes in{0, 0, 1}, out(8, 0xAA);
  std::size_t consumed = 0;
  EXPECT_EQ(zero::RLE(in.data(), out.data(), 3, 0) + zero::RLE(in.data(), out.data(), 3, 4), 0);
  EXPECT_EQ(zero::RLE(in.data(), out.data(), 0, 1) + zero::deRLE(in.data(), out.data(), 3, 4), 0);
  EXPECT_EQ(zero::deRLE(in.data(), out.data(), -1, 1), 0);
  EXPECT_FALSE(zero::checkedDeRLE(in.data(), 3, out.data(), 0, 1, consumed));
  EXPECT_FALSE(zero::checkedDeRLE(in.data(), 3, out.data(), 3, 0, consumed));
  EXPECT_EQ(out, Bytes(8, 0xAA));
}

// Planes of runs and literal stretches of random lengths, runs around the
// 16-byte blocks, the windows and each level's longest code (255 + L)
// included: both scans give the same tallies, search results and bytes (the
// vector coder writes at most 16 bytes past them), and every expansion gives
// the plane back, consuming the whole coding; every cut coding is refused.
TEST(ZeroRle, RoundTripsWithBothScans) {
  std::mt19937 rng(9);
  const int run_lengths[] = {1,  2,  3,   4,   5,   13,  15,  16,  17,  32,  33,  47,  60,  61,  62,  63,  64,
                             65, 66, 127, 128, 129, 255, 256, 257, 258, 259, 260, 261, 515, 516, 517, 518, 700};
  for (int round = 0; round < 3000; ++round) {
    Bytes in(rng() % 3 == 0 ? rng() % 18 : 0, 0x11);
    const std::size_t target = 1 + rng() % (round % 10 == 0 ? 5000 : 700);
    const unsigned literal_max = 1 + rng() % 80;
    while (in.size() < target) {
      for (std::size_t k = rng() % literal_max; k > 0; --k) in.push_back(static_cast<unsigned char>(1 + rng() % 255));
      const int run = rng() % 3 == 0 ? run_lengths[rng() % std::size(run_lengths)] : 1 + static_cast<int>(rng() % 6);
      in.insert(in.end(), static_cast<std::size_t>(run), 0);
    }
    if (rng() % 2) in.resize(target);
    const auto length = static_cast<int>(in.size());
    const auto p = zero::detail::tally_runs(in.data(), in.size(), Scan::kPortable);
    const auto v = zero::detail::tally_runs(in.data(), in.size(), Scan::kVector);
    ASSERT_EQ((std::vector{p.s1, p.s2, p.s3}), (std::vector{v.s1, v.s2, v.s3})) << round;
    for (int level = 1; level <= 3; ++level) {
      const std::size_t from = rng() % in.size();
      ASSERT_EQ(zero::detail::find_zeros(in.data(), from, in.size(), level, Scan::kPortable),
                zero::detail::find_zeros(in.data(), from, in.size(), level, Scan::kVector));
      const Bytes expected = code(in, level);
      Bytes coded(expected.size() + 16 + 64, 0xC5);
      const int n = zero::detail::rle(in.data(), coded.data(), length, level, Scan::kVector);
      ASSERT_EQ(Bytes(coded.begin(), coded.begin() + n), expected) << round << " level " << level;
      for (std::size_t k = expected.size() + 16; k < coded.size(); ++k) ASSERT_EQ(coded[k], 0xC5) << round;
      for (Scan scan : {Scan::kPortable, Scan::kVector}) {
        Bytes out(in.size(), 0xAA);
        ASSERT_EQ(checked(expected, out, level, scan), static_cast<int>(expected.size()));
        ASSERT_EQ(out, in) << round << " level " << level;
      }
      Bytes out(in.size(), 0xAA);
      ASSERT_EQ(zero::deRLE(expected.data(), out.data(), length, level), static_cast<int>(expected.size()));
      ASSERT_EQ(out, in);
      if (round % 50 != 0) continue;
      for (std::size_t cut = 0; cut < expected.size(); ++cut) {
        const Bytes truncated(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(cut));
        for (Scan scan : {Scan::kPortable, Scan::kVector}) ASSERT_EQ(checked(truncated, out, level, scan), -1) << cut;
      }
    }
  }
}

}  // namespace

#include "entropy/zero_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "entropy/zero_rle.h"

namespace {

using Bytes = std::vector<unsigned char>;
using zero::detail::Scan;

// The reading rules one unit at a time, bounded: the model that the block
// copies must match, consumed count included; -1 when the bytes run out.
// checked_expand's coded bytes used, or -1 when it fails.
int checked(const Bytes& coded, unsigned char* out, int length, int level, Scan scan) {
  std::size_t consumed = 0;
  const bool ok = zero::detail::checked_expand(coded.data(), coded.size(), out, length, level, scan, consumed);
  return ok ? static_cast<int>(consumed) : -1;
}

int model_expand(const Bytes& in, Bytes& out, int level) {
  std::size_t j = 0;
  std::size_t o = 0;
  auto at = [&](std::size_t k) { return j + k < in.size() ? in[j + k] : -1; };
  auto put = [&](int count, unsigned char b) {
    for (; count > 0 && o < out.size(); --count) out[o++] = b;
  };
  while (o < out.size()) {
    int zeros = 0;
    while (zeros < level && at(zeros) == 0) ++zeros;
    if (at(zeros) < 0) return -1;
    if (zeros == level) {
      put(zero::run_length_of_code(in[j + level]) + level, 0);
    } else {
      put(zeros, 0);
      put(1, in[j + zeros]);
    }
    j += zeros + 1;
  }
  return static_cast<int>(j);
}

// Zero runs of every length around 16-byte blocks and past 2 * 258, at
// several offsets, ending the input or followed by more; sparse and dense
// zeros.
std::vector<Bytes> scan_inputs() {
  std::vector<Bytes> inputs;
  std::mt19937 rng(77);
  for (int run : {1, 2, 3, 4, 15, 16, 17, 32, 33, 255, 256, 257, 258, 259, 514, 515, 516, 517, 1000}) {
    for (int offset : {0, 1, 15, 16, 17}) {
      Bytes b(static_cast<std::size_t>(offset), 0x11);
      b.insert(b.end(), static_cast<std::size_t>(run), 0);
      inputs.push_back(b);
      for (int k = 0; k < 21; ++k) b.push_back(k % 3 == 1 ? 0 : 0x33);
      inputs.push_back(b);
    }
  }
  for (unsigned every : {2u, 3u, 5u, 50u}) {
    for (std::size_t n : {17, 100, 5000}) {
      Bytes b(n);
      for (auto& x : b) x = rng() % every == 0 ? static_cast<unsigned char>(rng()) : 0;
      inputs.push_back(b);
      for (auto& x : b) x = rng() % every == 0 ? 0 : static_cast<unsigned char>(rng() | 1);
      inputs.push_back(b);
    }
  }
  return inputs;
}

// Both scans give the same tallies, runs and codings, which read back.
TEST(ZeroScan, EveryScanAgreesAndRoundTrips) {
  for (const Bytes& in : scan_inputs()) {
    const auto length = static_cast<int>(in.size());
    const auto p = zero::detail::tally_runs(in.data(), in.size(), Scan::kPortable);
    const auto v = zero::detail::tally_runs(in.data(), in.size(), Scan::kVector);
    EXPECT_EQ((std::vector{p.s1, p.s2, p.s3}), (std::vector{v.s1, v.s2, v.s3})) << in.size();
    for (int level = 1; level <= 3; ++level) {
      EXPECT_EQ(zero::detail::find_zeros(in.data(), 1, in.size(), level, Scan::kPortable),
                zero::detail::find_zeros(in.data(), 1, in.size(), level, Scan::kVector));
      Bytes coded[2];
      for (Scan scan : {Scan::kPortable, Scan::kVector}) {
        Bytes& c = coded[static_cast<int>(scan)];
        c.resize(2 * in.size() + 8);
        c.resize(static_cast<std::size_t>(zero::detail::rle(in.data(), c.data(), length, level, scan)));
        Bytes out(in.size(), 0xAA);
        EXPECT_EQ(checked(c, out.data(), length, level, scan), static_cast<int>(c.size()));
        EXPECT_EQ(out, in);
      }
      EXPECT_EQ(coded[0], coded[1]);
    }
  }
}

// Planes built from runs and literal stretches of random lengths, runs
// around window sizes and the longest codes included: the window coder gives
// the byte-wise coder's bytes, writes at most 16 bytes past them, and both
// expansions give the plane back.
TEST(ZeroScan, WindowCoderMatchesTheByteWiseCoder) {
  std::mt19937 rng(9);
  const int run_lengths[] = {1,   2,   3,   4,   5,   13,  47,  60,  61,  62,  63,  64,  65,  66, 127,
                             128, 129, 255, 256, 257, 258, 259, 260, 261, 515, 516, 517, 518, 700};
  for (int round = 0; round < 3000; ++round) {
    Bytes in;
    const std::size_t target = 1 + rng() % (round % 10 == 0 ? 5000 : 700);
    const unsigned literal_max = 1 + rng() % 80;
    while (in.size() < target) {
      const std::size_t literals = rng() % literal_max;
      for (std::size_t k = 0; k < literals; ++k) in.push_back(static_cast<unsigned char>(1 + rng() % 255));
      const int run = rng() % 3 == 0 ? run_lengths[rng() % std::size(run_lengths)] : 1 + static_cast<int>(rng() % 6);
      in.insert(in.end(), static_cast<std::size_t>(run), 0);
    }
    if (rng() % 2) in.resize(target);
    const auto length = static_cast<int>(in.size());
    for (int level = 1; level <= 3; ++level) {
      Bytes expected(2 * in.size() + 8);
      expected.resize(
          static_cast<std::size_t>(zero::detail::rle(in.data(), expected.data(), length, level, Scan::kPortable)));
      Bytes coded(expected.size() + 16 + 64, 0xC5);
      const int n = zero::detail::rle(in.data(), coded.data(), length, level, Scan::kVector);
      ASSERT_EQ(Bytes(coded.begin(), coded.begin() + n), expected) << round << " level " << level;
      for (std::size_t k = expected.size() + 16; k < coded.size(); ++k) ASSERT_EQ(coded[k], 0xC5) << round;
      for (Scan scan : {Scan::kPortable, Scan::kVector}) {
        Bytes out(in.size(), 0xAA);
        ASSERT_EQ(checked(expected, out.data(), length, level, scan), static_cast<int>(expected.size()));
        ASSERT_EQ(out, in) << round << " level " << level;
      }
    }
  }
}

// On arbitrary coded bytes the block-copying expansion consumes and writes
// what the unit-by-unit rules do, and fails where they run out of bytes.
TEST(ZeroScan, CheckedExpansionMatchesTheRulesOnAnyInput) {
  std::mt19937 rng(5);
  for (int round = 0; round < 4000; ++round) {
    Bytes coded(rng() % (round % 8 == 0 ? 3000 : 700));
    const unsigned zero_odds = 1 + rng() % 4;
    for (auto& b : coded) b = rng() % zero_odds == 0 ? 0 : static_cast<unsigned char>(rng());
    const int length = 1 + static_cast<int>(rng() % 2000);
    const int level = 1 + static_cast<int>(rng() % 3);
    Bytes expected(static_cast<std::size_t>(length), 0xAA);
    const int model = model_expand(coded, expected, level);
    for (Scan scan : {Scan::kPortable, Scan::kVector}) {
      Bytes out(static_cast<std::size_t>(length), 0xAA);
      ASSERT_EQ(checked(coded, out.data(), length, level, scan), model);
      if (model >= 0) {
        EXPECT_EQ(out, expected) << round;
        EXPECT_EQ(zero::deRLE(coded.data(), out.data(), length, level), model);
        EXPECT_EQ(out, expected) << round;
      }
    }
  }
}

}  // namespace

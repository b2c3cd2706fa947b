#include "entropy/compress.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "entropy/fibonacci.h"
#include "reference_coder.h"
#include "test_data.h"

namespace {

using testdata::Bytes;

constexpr std::uint32_t kLargest = (1u << 24) + 3;

// One coder for the whole program: its buffers take the largest plane.
Compress& coder() {
  static Compress* c = [] {
    auto* made = new Compress;
    EXPECT_EQ(made->InitCompressBuffers(kLargest), 1);
    return made;
  }();
  return *c;
}

// The stream as stored, with the byte behind it (the reported length).
Bytes compact(const Bytes& plane) {
  Bytes out(compact_bound(plane.size()), 0xAA);
  const std::uint32_t n = coder().compact(plane.data(), out.data(), static_cast<std::uint32_t>(plane.size()));
  EXPECT_LE(n, out.size());
  out.resize(n);
  return out;
}

// Restores with both forms, which must agree; the checked one is given only
// the stored bytes.
Bytes restore(const Bytes& stream, std::size_t length) {
  Bytes trusted(length + 1, 0xAA);
  coder().uncompact(stream.data(), trusted.data(), static_cast<std::uint32_t>(length));
  EXPECT_EQ(trusted[length], 0xAA) << "wrote past the plane";
  trusted.resize(length);
  Bytes checked(length, 0x55);
  EXPECT_TRUE(coder().uncompact_checked(stream.data(), stream.size() - 1, checked.data(),
                                        static_cast<std::uint32_t>(length)));
  EXPECT_EQ(checked, trusted);
  return checked;
}

TEST(Compact, WorkedExamples) {
  const Bytes ten = compact(Bytes(10, 0x05));
  EXPECT_EQ(ten, (Bytes{0x00, 0xCD, 0xB7, 0x87, 0xE8, 0x00, 0x00, 0x00, 0x00, 0x00}));

  const Bytes twenty = compact(Bytes(20, 0));
  EXPECT_EQ(twenty, (Bytes{0x01, 0x02, 0x00, 0x00, 0x00, 0x6C, 0x3E, 0xAD, 0xD9, 0x40, 0x00, 0x00, 0x00, 0x00}));

  Bytes seventeen(17, 0);
  seventeen.push_back(0x09);
  const Bytes plain = compact(seventeen);
  EXPECT_EQ(plain.size(), 11u);
  EXPECT_EQ(plain[0], 0x00);

  const Bytes thousand = compact(Bytes(1000, 0));
  EXPECT_EQ(thousand, (Bytes{0x03, 0x10, 0x00, 0x00, 0x00, 0xBB, 0xAF, 0xF3, 0x3B, 0xED, 0xAE, 0xF0, 0x57, 0xF6,
                             0xD3, 0x44, 0x36, 0x00, 0x00}));

  const Bytes empty = compact({});
  EXPECT_EQ(empty, (Bytes{0x00, 0xE3, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));

  EXPECT_EQ(restore(ten, 10), Bytes(10, 0x05));
  EXPECT_EQ(restore(twenty, 20), Bytes(20, 0));
  EXPECT_EQ(restore(plain, 18), seventeen);
  EXPECT_EQ(restore(thousand, 1000), Bytes(1000, 0));
  EXPECT_EQ(restore(empty, 0), Bytes{});
}

// The byte behind the stream is always written, as 0: the same plane gives
// the same bytes whatever the output held before.
TEST(Compact, ByteBehindTheStreamIsZero) {
  const Bytes plane = testdata::residual_like(5000, 2.0, 9);
  for (unsigned char fill : {0x00, 0xFF}) {
    Bytes out(compact_bound(plane.size()), fill);
    const std::uint32_t n = coder().compact(plane.data(), out.data(), static_cast<std::uint32_t>(plane.size()));
    EXPECT_EQ(out[n - 1], 0x00);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + n), compact(plane));
  }
}

// Every content at lengths around the table sizes and the coder's limits.
TEST(Compact, RoundTripsAtManyLengths) {
  std::uint32_t seed = 0;
  for (std::size_t n : {0, 1, 2, 3, 15, 16, 255, 256, 257, 1000, 4095, 4096, 4097, 65536, 65537}) {
    for (const auto& content : testdata::contents()) {
      const Bytes plane = content.make(n, ++seed);
      EXPECT_EQ(restore(compact(plane), n), plane) << content.name << " " << n;
    }
  }
}

// Zero runs at each level's longest code (255 + L zeros) and around it, at
// the start, the middle and the end of a plane.
TEST(Compact, ZeroRunsAtTheLevelBoundaries) {
  for (int run : {254, 255, 256, 257, 258, 259, 512, 513, 514, 515, 516, 1000}) {
    for (int level_gap : {1, 2, 3, 40}) {
      Bytes plane = testdata::residual_like(300, 1.0, static_cast<std::uint32_t>(run));
      // Lone zeros spaced so that the chosen level varies with the gap.
      for (std::size_t i = 0; i < plane.size(); ++i) plane[i] = (i % level_gap == 0) ? 0 : plane[i] | 1;
      Bytes with_run = plane;
      with_run.insert(with_run.begin() + 150, static_cast<std::size_t>(run), 0);
      with_run.insert(with_run.begin(), static_cast<std::size_t>(run), 0);
      with_run.insert(with_run.end(), static_cast<std::size_t>(run), 0);
      EXPECT_EQ(restore(compact(with_run), with_run.size()), with_run) << run << " " << level_gap;
    }
  }
}

// Planes beyond the single-precision scaling (2^23 bytes) use the integer
// rule; 2^24 + 3 is the longest plane a caller may hand over.
void check_large_plane(std::size_t n) {
  Bytes plane = testdata::residual_like(n, 4.0, static_cast<std::uint32_t>(n));
  for (std::size_t i = 0; i < n; i += 4099) plane[i] = 0x80;  // rare values with tiny frequencies
  EXPECT_EQ(restore(compact(plane), n), plane) << n;
}

TEST(Compact, LargestSinglePrecisionPlane) { check_large_plane(std::size_t{1} << 23); }
TEST(Compact, SmallestIntegerScaledPlane) { check_large_plane((std::size_t{1} << 23) + 1); }
TEST(Compact, LongestPlane) { check_large_plane(kLargest); }

TEST(Compact, LongestNoisePlane) {
  const Bytes noise = testdata::random_bytes(kLargest, 1);
  const Bytes stream = compact(noise);
  EXPECT_LE(stream.size(), compact_bound(noise.size()));
  Bytes back(noise.size());
  EXPECT_TRUE(coder().uncompact_checked(stream.data(), stream.size() - 1, back.data(), kLargest));
  EXPECT_EQ(back, noise);
}

}  // namespace

namespace {

// Every prefix of a stream is refused (the plane needs all its stored bytes,
// less at most the coder's last few), and so is every stream whose method,
// R or table is damaged; random bytes never lead outside the buffers.
TEST(UncompactChecked, RefusesTruncatedStreams) {
  for (const Bytes& plane : {testdata::residual_like(3000, 2.0, 1), testdata::sparse_bytes(3000, 30, 2),
                             Bytes(3000, 0), testdata::random_bytes(700, 3)}) {
    const Bytes stream = compact(plane);
    const std::size_t stored = stream.size() - 1;
    Bytes out(plane.size());
    std::size_t refused = 0;
    for (std::size_t cut = 0; cut < stored; ++cut) {
      Bytes prefix(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
      if (!coder().uncompact_checked(prefix.data(), prefix.size(), out.data(),
                                     static_cast<std::uint32_t>(plane.size()))) {
        ++refused;
      } else {
        EXPECT_EQ(out, plane) << "a prefix of " << cut << " bytes decoded to something else";
      }
    }
    EXPECT_GE(refused + 4, stored);
  }
}

TEST(UncompactChecked, RefusesDamagedHeaders) {
  Bytes plane = testdata::sparse_bytes(5000, 20, 4);
  plane.back() = 9;  // the coding ends with a literal, not a run that could be cut
  const Bytes stream = compact(plane);
  ASSERT_NE(stream[0], 0);  // run-length coded
  Bytes out(plane.size());
  auto refused = [&](Bytes s, std::uint32_t length) {
    return !coder().uncompact_checked(s.data(), s.size() - 1, out.data(), length);
  };
  Bytes bad_method = stream;
  bad_method[0] = 4;
  EXPECT_TRUE(refused(bad_method, 5000));
  for (std::uint32_t r : {0u, 1u, 5001u, 0xFFFFFFFFu}) {
    Bytes bad_r = stream;
    for (int k = 0; k < 4; ++k) bad_r[1 + k] = static_cast<unsigned char>(r >> (8 * k));
    EXPECT_TRUE(refused(bad_r, 5000)) << r;
  }
  EXPECT_TRUE(refused(stream, 4999));  // the plane the table counts is longer
  EXPECT_TRUE(refused(stream, 5001));
  EXPECT_TRUE(refused(compact(Bytes(100, 7)), 99));  // method 0: counts sum to 100
  EXPECT_FALSE(coder().uncompact_checked(stream.data(), 0, out.data(), 5000));
}

TEST(UncompactChecked, SurvivesCorruptionAndRandomStreams) {
  std::mt19937 rng(31);
  const Bytes planes[] = {testdata::residual_like(2000, 3.0, 5), testdata::sparse_bytes(2000, 50, 6),
                          testdata::random_bytes(2000, 7)};
  for (const Bytes& plane : planes) {
    const Bytes stream = compact(plane);
    for (int round = 0; round < 1500; ++round) {
      Bytes damaged(stream.begin(), stream.end() - 1);
      const int flips = 1 + static_cast<int>(rng() % 3);
      for (int f = 0; f < flips; ++f) damaged[rng() % damaged.size()] ^= static_cast<unsigned char>(1u << (rng() % 8));
      Bytes out(plane.size());
      coder().uncompact_checked(damaged.data(), damaged.size(), out.data(), static_cast<std::uint32_t>(plane.size()));
    }
  }
  for (int round = 0; round < 3000; ++round) {
    Bytes junk(rng() % 300);
    for (auto& b : junk) b = static_cast<unsigned char>(rng());
    if (!junk.empty()) junk[0] = static_cast<unsigned char>(rng() % 4);
    Bytes out(rng() % 2000);
    coder().uncompact_checked(junk.data(), junk.size(), out.data(), static_cast<std::uint32_t>(out.size()));
  }
}

// A stream can only be decoded with run-length buffers that hold its R.
TEST(UncompactChecked, NeedsBuffers) {
  const Bytes stream = compact(Bytes(2000, 0));
  Compress small;
  Bytes out(2000);
  EXPECT_FALSE(small.uncompact_checked(stream.data(), stream.size(), out.data(), 2000));
  ASSERT_EQ(small.InitCompressBuffers(4), 1);
  EXPECT_FALSE(small.uncompact_checked(stream.data(), stream.size(), out.data(), 2000));  // R = 32
  ASSERT_EQ(small.InitCompressBuffers(2000), 1);
  EXPECT_TRUE(small.uncompact_checked(stream.data(), stream.size(), out.data(), 2000));
  EXPECT_EQ(out, Bytes(2000, 0));
}

// Orders a plane of nearly equal counts so that each byte leaves the coder's
// next range with the largest part above r * total, which r cannot use.
Bytes worst_order(std::size_t n) {
  std::array<std::uint32_t, 256> counts{};
  std::size_t given = 0;
  for (int v = 0; v < 256; ++v) {
    counts[v] = static_cast<std::uint32_t>(static_cast<double>(n) / 256 * (0.9 + 0.2 * v / 255));
    given += counts[v];
  }
  counts[0] += static_cast<std::uint32_t>(n - given);
  const reference::Table table = reference::scale(counts);
  const std::uint32_t total = table.cum[256];
  auto renormalised = [](std::uint32_t x) {
    while (x <= 0x800000u) x <<= 8;
    return x;
  };
  Bytes plane;
  plane.reserve(n);
  std::uint32_t range = 0x80000000u;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t r = range >> table.shift;
    int best = -1;
    double best_waste = -1;
    for (int v = 0; v < 256; ++v) {
      if (counts[v] == 0) continue;
      const std::uint32_t x = v == 255 ? range - r * table.cum[255] : r * (table.cum[v + 1] - table.cum[v]);
      const std::uint32_t next = renormalised(x);
      const double waste = static_cast<double>(next) / (static_cast<double>(next >> table.shift) * total);
      if (waste > best_waste) {
        best_waste = waste;
        best = v;
      }
    }
    --counts[best];
    plane.push_back(static_cast<unsigned char>(best));
    const std::uint32_t x = best == 255 ? range - r * table.cum[255] : r * (table.cum[best + 1] - table.cum[best]);
    range = renormalised(x);
  }
  return plane;
}

// The bound holds for incompressible planes of every length, for planes
// built to make the coder lose the most, and for run-length coded planes.
TEST(CompactBound, HoldsForWorstCases) {
  std::mt19937 rng(41);
  std::vector<std::size_t> lengths = {0, 1, 2, 100, 1000, 4097, 65535, 65536, 65537, (1u << 20) + 1, (1u << 22) + 1};
  for (int k = 0; k < 30; ++k) lengths.push_back(rng() % 300000);
  for (std::size_t n : lengths) {
    const Bytes noise = testdata::random_bytes(n, static_cast<std::uint32_t>(n));
    EXPECT_LE(compact(noise).size(), compact_bound(n)) << n;
    Bytes two_symbol(n);
    for (auto& b : two_symbol) b = static_cast<unsigned char>((rng() % 512 == 0) ? 0x7F : 0xFF);
    EXPECT_LE(compact(two_symbol).size(), compact_bound(n)) << n;
  }
  // A nearly uniform plane, ordered greedily so that after every byte the
  // coder's range lies just below a multiple of r * total, where the unit r
  // wastes the most: the loss the bound allows for.
  const std::size_t n = std::size_t{1} << 18;
  const Bytes worst = worst_order(n);
  const std::size_t coded = compact(worst).size();
  EXPECT_LE(coded, compact_bound(n));
  EXPECT_GT(coded, n + 700);  // the order does cost what it should
  for (std::size_t n : {std::size_t{10}, std::size_t{1000}, std::size_t{100000}}) {
    Bytes pairs(n);
    for (std::size_t i = 0; i < n; ++i) pairs[i] = (i % 3 == 0) ? 0 : static_cast<unsigned char>(rng() | 1);
    EXPECT_LE(compact(pairs).size(), compact_bound(n)) << n;
  }
  // The bound grows with the plane and leaves the incompressible plane its
  // length plus a small share.
  EXPECT_LE(compact_bound(1000), 1000u + 1400u);
  EXPECT_LE(compact_bound(std::size_t{1} << 24), (std::size_t{1} << 24) + (std::size_t{1} << 24) / 8 + (1u << 16));
  for (std::size_t n = 1; n < (std::size_t{1} << 26); n = n * 3 + 1) EXPECT_LE(compact_bound(n), compact_bound(n + 1));
}

TEST(CompressBuffers, AcquireAndRelease) {
  Compress c;
  c.FreeCompressBuffers();  // none yet
  EXPECT_EQ(c.cum, nullptr);
  ASSERT_EQ(c.InitCompressBuffers(100), 1);
  EXPECT_NE(c.cum, nullptr);
  EXPECT_NE(c.counts, nullptr);
  EXPECT_NE(c.rle_buffer, nullptr);
  ASSERT_EQ(c.InitCompressBuffers(5000), 1);  // a second call replaces the buffers
  const Bytes plane = testdata::sparse_bytes(5000, 9, 1);
  Bytes out(compact_bound(5000));
  const std::uint32_t n = c.compact(plane.data(), out.data(), 5000);
  Bytes back(5000);
  EXPECT_TRUE(c.uncompact_checked(out.data(), n - 1, back.data(), 5000));
  EXPECT_EQ(back, plane);
  c.FreeCompressBuffers();
  c.FreeCompressBuffers();
  EXPECT_EQ(c.rle_buffer, nullptr);
  EXPECT_EQ(c.counts, nullptr);
}

// A plane longer than the run-length buffer is still coded, without
// run-length coding, instead of overrunning the buffer.
TEST(CompressBuffers, PlaneLongerThanTheBuffer) {
  Compress c;
  ASSERT_EQ(c.InitCompressBuffers(10), 1);
  const Bytes zeros(1000, 0);
  Bytes out(compact_bound(1000));
  const std::uint32_t n = c.compact(zeros.data(), out.data(), 1000);
  EXPECT_EQ(out[0], 0);
  Bytes back(1000, 1);
  c.uncompact(out.data(), back.data(), 1000);
  EXPECT_EQ(back, zeros);
  EXPECT_LT(n, 20u);
}

}  // namespace

namespace {

// Planes restored together come out as they do one by one, whatever their
// methods, lengths and order, in groups beyond three too.
TEST(UncompactTogether, RestoresEveryPlane) {
  const std::vector<Bytes> planes = {testdata::residual_like(40000, 3.0, 1), testdata::sparse_bytes(40000, 60, 2),
                                     Bytes{},                                testdata::random_bytes(7000, 3),
                                     Bytes(1000, 0),                         testdata::residual_like(3, 1.0, 4),
                                     testdata::high_half(25000, 5)};
  std::vector<Bytes> streams;
  for (const Bytes& p : planes) streams.push_back(compact(p));
  std::vector<Compress> coders(planes.size());
  std::vector<Compress*> pointers;
  for (Compress& c : coders) {
    ASSERT_EQ(c.InitCompressBuffers(40000), 1);
    pointers.push_back(&c);
  }
  for (std::size_t count : {std::size_t{1}, std::size_t{2}, std::size_t{3}, planes.size()}) {
    for (std::size_t first = 0; first + count <= planes.size(); ++first) {
      std::vector<Bytes> out;
      std::vector<PlaneStream> jobs;
      for (std::size_t k = first; k < first + count; ++k) out.emplace_back(planes[k].size(), 0xAA);
      for (std::size_t k = 0; k < count; ++k) {
        const Bytes& s = streams[first + k];
        jobs.push_back({s.data(), s.size() - 1, out[k].data(), static_cast<std::uint32_t>(out[k].size())});
      }
      ASSERT_TRUE(uncompact_checked_together(std::span(pointers.data(), count), jobs)) << first << " " << count;
      for (std::size_t k = 0; k < count; ++k) EXPECT_EQ(out[k], planes[first + k]) << first + k;
    }
  }
}

TEST(UncompactTogether, RefusesBadStreamsAndShared) {
  const Bytes a = testdata::residual_like(5000, 2.0, 7);
  const Bytes b = testdata::sparse_bytes(5000, 30, 8);
  const Bytes sa = compact(a);
  const Bytes sb = compact(b);
  Compress c1;
  Compress c2;
  ASSERT_EQ(c1.InitCompressBuffers(5000), 1);
  ASSERT_EQ(c2.InitCompressBuffers(5000), 1);
  Bytes oa(5000);
  Bytes ob(5000);
  Compress* both[] = {&c1, &c2};
  Compress* shared[] = {&c1, &c1};
  const PlaneStream good[] = {{sa.data(), sa.size() - 1, oa.data(), 5000}, {sb.data(), sb.size() - 1, ob.data(), 5000}};
  EXPECT_TRUE(uncompact_checked_together(both, good));
  EXPECT_FALSE(uncompact_checked_together(shared, good));
  EXPECT_FALSE(uncompact_checked_together(std::span(both, 1), good));
  for (std::size_t cut : {std::size_t{0}, std::size_t{3}, sb.size() / 2, sb.size() - 8}) {
    const PlaneStream truncated[] = {good[0], {sb.data(), cut, ob.data(), 5000}};
    EXPECT_FALSE(uncompact_checked_together(both, truncated)) << cut;
  }
}

}  // namespace

#include <sys/resource.h>

#include <cstdlib>

namespace {

#if defined(__SANITIZE_ADDRESS__)
#define QUELMUX_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUELMUX_TEST_ASAN 1
#endif
#endif

#ifndef QUELMUX_TEST_ASAN
[[noreturn]] void acquire_under_a_limit() {
  const rlimit limit{std::size_t{512} << 20, std::size_t{512} << 20};
  setrlimit(RLIMIT_AS, &limit);
  Compress c;
  const int result = c.InitCompressBuffers(0xFFFFFFFFu);
  std::exit(result == 0 && c.cum == nullptr && c.rle_buffer == nullptr ? 0 : 1);
}
#endif

// Memory that cannot be had gives 0 and no buffers, not a crash. The child
// process runs under an address-space limit too small for the request.
TEST(CompressBuffersDeathTest, FailedAcquisitionReturnsZero) {
#ifdef QUELMUX_TEST_ASAN
  GTEST_SKIP() << "the sanitizer's allocator does not allow an address-space limit";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(acquire_under_a_limit(), ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace

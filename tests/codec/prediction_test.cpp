#include "codec/prediction.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/prediction_inverse.h"
#include "codec/prediction_median.h"
#include "codec/prediction_planes.h"
#include "frames.h"
#include "reference.h"
#include "simd_levels.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr std::size_t kGuard = 64;  // bytes behind every output, which must stay 0xA5

bool guard_intact(const Bytes& b, std::size_t size) {
  return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(size), b.end(), [](unsigned char x) { return x == 0xA5; });
}

Bytes de_entropy(const Bytes& frame, int width, int height, int pixel_size) {
  Bytes in = frame, out(frame.size() + kGuard, 0xA5);
  (pixel_size == 3 ? DeEntropy : DeEntropy32)(in.data(), out.data(), width, height);
  EXPECT_EQ(in, reference::decorrelate(frame, pixel_size));
  EXPECT_TRUE(guard_intact(out, frame.size()));
  out.resize(frame.size());
  return out;
}

TEST(Prediction, WorkedExamples) {
  EXPECT_EQ(median(3, 1, 2), 2);
  EXPECT_EQ(median(5, 5, 1), 5);
  EXPECT_EQ(median(-4, 0, 7), 0);
  EXPECT_EQ(de_entropy({10, 20, 30}, 1, 1, 3), (Bytes{246, 20, 10}));
  EXPECT_EQ(de_entropy({10, 20, 30, 40}, 1, 1, 4), (Bytes{246, 20, 10, 40}));
  EXPECT_EQ(de_entropy({0, 250, 0, 0, 5, 0}, 2, 1, 3)[4], 11);  // modulo 256
  // Byte 1 of a 2 x 3 frame holding 10 .. 60: from the left, from above,
  // then the median.
  Bytes frame(18, 0);
  for (int p = 0; p < 6; ++p) frame[3 * p + 1] = static_cast<unsigned char>(10 * (p + 1));
  EXPECT_EQ(reference::split(de_entropy(frame, 2, 3, 3), 3)[1], (Bytes{10, 10, 20, 10, 10, 10}));
  // The plane form starts the second row from the left.
  const Bytes rows{10, 20, 30, 40, 50, 60};
  Bytes out(6);
  blockDeEntropy(rows.data(), out.data(), 2, 6);
  EXPECT_EQ(out, Bytes(6, 10));
  int mismatches = 0;
  for (int l = 0; l < 256; ++l) {
    for (int a = 0; a < 256; ++a) {
      for (int d = 0; d < 256; ++d)
        mismatches += static_cast<int>(prediction_detail::predict(static_cast<unsigned>(l), static_cast<unsigned>(a),
                                                                  static_cast<unsigned>(d))) != median(l, a, l + a - d);
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// The interleaved and the plane forms as the rules say, on frames of many
// geometries; bad geometries write nothing.
TEST(Prediction, MatchesTheRules) {
  std::mt19937 rng(11);
  for (int round = 0; round < 200; ++round) {
    const int w = 1 + static_cast<int>(rng() % 40), h = round < 20 ? 1 + round % 2 : 1 + static_cast<int>(rng() % 12);
    const int ps = round % 2 ? 3 : 4;
    const Bytes frame = round % 3 ? testframes::noise(w, h, ps, rng()) : testframes::gradient(w, h, ps);
    ASSERT_EQ(de_entropy(frame, w, h, ps), reference::residuals(frame, w, h, ps)) << w << "x" << h << "x" << ps;

    const int n = 1 + static_cast<int>(rng() % 300), stride = round < 10 ? 400 : static_cast<int>(rng() % 40);
    const Bytes plane = testframes::noise(n, 1, 1, rng());
    Bytes out(plane.size() + kGuard, 0xA5), want(plane.size());
    blockDeEntropy(plane.data(), out.data(), stride, n);
    for (int i = 0; i < n; ++i) {
      const int l = i > 0 ? plane[i - 1] : 0;
      want[i] =
          plane[i] -
          (i <= stride ? l : reference::middle(l, plane[i - stride], l + plane[i - stride] - plane[i - stride - 1]));
    }
    ASSERT_TRUE(guard_intact(out, plane.size()));
    out.resize(plane.size());
    ASSERT_EQ(out, want) << n << " " << stride;
  }
  Bytes none(kGuard, 0xA5);
  for (auto [w, h] : {std::pair{0, 5}, {5, 0}, {-1, 4}, {4, -1}}) {
    DeEntropy(none.data(), none.data(), w, h);
    DeEntropy32(none.data(), none.data(), w, h);
  }
  blockDeEntropy(none.data(), none.data(), -3, 4);
  blockDeEntropy(none.data(), none.data(), 2, 0);
  EXPECT_TRUE(guard_intact(none, 0));
}

// The residual planes of a frame at one level, the frame unchanged.
std::vector<Bytes> forward(const Bytes& frame, int width, int height, int pixel_size, PredictionSimd level) {
  const std::size_t n = frame.size() / static_cast<std::size_t>(pixel_size);
  std::vector<Bytes> planes(static_cast<std::size_t>(pixel_size), Bytes(n + kGuard, 0xA5));
  unsigned char* out[4] = {};
  for (int k = 0; k < pixel_size; ++k) out[k] = planes[static_cast<std::size_t>(k)].data();
  const Bytes in = frame;
  if (pixel_size == 3) DeEntropyPlanes(in.data(), out, width, height, level);
  if (pixel_size == 4) DeEntropyPlanes32(in.data(), out, width, height, level);
  EXPECT_EQ(in, frame) << "input changed";
  for (Bytes& p : planes) {
    EXPECT_TRUE(guard_intact(p, n)) << "write outside a plane";
    p.resize(n);
  }
  return planes;
}

// The frame rebuilt from residual planes at one level.
Bytes inverse(const std::vector<Bytes>& planes, int width, int height, PredictionSimd level) {
  const std::size_t size = planes[0].size() * planes.size();
  const unsigned char* p[4] = {};
  for (std::size_t k = 0; k < planes.size(); ++k) p[k] = planes[k].data();
  Bytes out(size + kGuard, 0xA5);
  if (planes.size() == 3) ReEntropyPlanes(p, out.data(), width, height, level);
  if (planes.size() == 4) ReEntropyPlanes32(p, out.data(), width, height, level);
  EXPECT_TRUE(guard_intact(out, size)) << "write outside the frame";
  out.resize(size);
  return out;
}

class Levels : public testing::TestWithParam<PredictionSimd> {
 protected:
  void SetUp() override {
    if (!prediction_simd_supported(GetParam())) GTEST_SKIP() << "not on this CPU";
  }
  // The planes hold the rules' residuals, and the inverse gives the frame back.
  void check(const Bytes& frame, int w, int h, int ps) {
    const std::vector<Bytes> planes = forward(frame, w, h, ps, GetParam());
    ASSERT_EQ(planes, reference::split(reference::residuals(frame, w, h, ps), ps)) << w << "x" << h << "x" << ps;
    ASSERT_TRUE(inverse(planes, w, h, GetParam()) == frame) << w << "x" << h << "x" << ps;
  }
};

// Widths around the 16- and 32-pixel blocks of the vector loops, one row,
// one column, 7 and 8 pixels; random geometries and residual planes (the
// prediction is a bijection); photographs and ultra HD frames.
TEST_P(Levels, PlanesAndInverse) {
  const std::pair<int, int> sizes[] = {{1, 1},   {2, 1},   {1, 2},   {7, 1},   {1, 7},    {8, 1},    {1, 8},
                                       {2, 4},   {4, 2},   {3, 3},   {5, 7},   {15, 2},   {16, 3},   {17, 2},
                                       {31, 2},  {32, 2},  {33, 5},  {63, 4},  {64, 3},   {65, 9},   {1, 600},
                                       {600, 1}, {513, 1}, {511, 2}, {97, 41}, {129, 17}, {1000, 3}, {3, 1000}};
  std::uint32_t seed = 1;
  for (const auto& [w, h] : sizes) {
    for (int ps : {3, 4}) {
      check(testframes::noise(w, h, ps, seed++), w, h, ps);
      check(testframes::gradient(w, h, ps), w, h, ps);
      check(testframes::screen(w, h, ps, seed++), w, h, ps);
      check(testframes::solid(w, h, ps == 3 ? Bytes{9, 200, 31} : Bytes{9, 200, 31, 4}), w, h, ps);
      if (HasFatalFailure()) return;
    }
  }
  std::mt19937 rng(17);
  for (int round = 0; round < 150; ++round) {
    const int w = 1 + static_cast<int>(rng() % 700), h = 1 + static_cast<int>(rng() % 9), ps = 3 + round % 2;
    check(testframes::noise(w, h, ps, rng()), w, h, ps);
    std::vector<Bytes> planes;
    for (int k = 0; k < ps; ++k) planes.push_back(testframes::noise(w, h, 1, rng()));
    ASSERT_TRUE(forward(inverse(planes, w, h, GetParam()), w, h, ps, PredictionSimd::Scalar) == planes);
  }
  for (auto [w, h] : {std::pair{0, 3}, {3, 0}, {-2, 3}, {3, -2}}) {
    for (int ps : {3, 4}) {
      EXPECT_EQ(forward({}, w, h, ps, GetParam()), std::vector<Bytes>(static_cast<std::size_t>(ps)));
      EXPECT_TRUE(inverse(std::vector<Bytes>(static_cast<std::size_t>(ps)), w, h, GetParam()).empty());
    }
  }
  // Large frames: the planes of the scalar level, and the frame back.
  for (int ps : {3, 4}) {
    for (const Bytes& frame : {testframes::photo_mosaic(1920, 1080, ps), testframes::noise(1920, 1080, ps, 9)}) {
      if (frame.empty()) continue;
      const std::vector<Bytes> planes = forward(frame, 1920, 1080, ps, GetParam());
      ASSERT_TRUE(planes == forward(frame, 1920, 1080, ps, PredictionSimd::Scalar));
      ASSERT_TRUE(inverse(planes, 1920, 1080, GetParam()) == frame);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, Levels,
                         testing::Values(PredictionSimd::Scalar, PredictionSimd::Sse2, PredictionSimd::Ssse3,
                                         PredictionSimd::Avx2),
                         [](const auto& info) { return std::string(prediction_simd_name(info.param)); });

}  // namespace

#include "codec/prediction_planes.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/prediction.h"
#include "frames.h"
#include "plane_runs.h"
#include "reference.h"

namespace {

using Bytes = std::vector<unsigned char>;
using planeruns::forward;

// Every level against the plain interleaved form and the rules.
class PlanePrediction : public testing::TestWithParam<PredictionSimd> {
 protected:
  void SetUp() override {
    if (!prediction_simd_supported(GetParam())) GTEST_SKIP() << "not on this CPU";
  }

  void check(const Bytes& frame, int width, int height, int pixel_size) {
    Bytes work = frame;
    Bytes interleaved(frame.size());
    if (pixel_size == 3) {
      DeEntropy(work.data(), interleaved.data(), width, height);
    } else {
      DeEntropy32(work.data(), interleaved.data(), width, height);
    }
    const std::vector<Bytes> planes = forward(frame, width, height, pixel_size, GetParam());
    const std::vector<Bytes> want = reference::split(interleaved, pixel_size);
    for (int k = 0; k < pixel_size; ++k) {
      ASSERT_EQ(planes[static_cast<std::size_t>(k)], want[static_cast<std::size_t>(k)])
          << "plane " << k << " of " << width << "x" << height << "x" << pixel_size;
    }
  }
};

TEST_P(PlanePrediction, SmallAndOddGeometries) {
  // Widths around the 32-pixel blocks of the vector loops, one row, one
  // column, 7 and 8 pixels.
  const std::pair<int, int> sizes[] = {{1, 1},  {2, 1},  {1, 2},  {7, 1},   {1, 7},   {8, 1},   {1, 8},    {2, 4},
                                       {4, 2},  {3, 3},  {5, 7},  {31, 2},  {32, 2},  {33, 2},  {31, 3},   {33, 5},
                                       {63, 4}, {64, 3}, {65, 9}, {1, 300}, {300, 1}, {97, 41}, {129, 17}, {1000, 3}};
  std::uint32_t seed = 1;
  for (const auto& [w, h] : sizes) {
    for (int ps : {3, 4}) {
      check(testframes::noise(w, h, ps, seed++), w, h, ps);
      check(testframes::gradient(w, h, ps), w, h, ps);
    }
  }
}

TEST_P(PlanePrediction, RandomGeometries) {
  std::mt19937 rng(17);
  for (int round = 0; round < 150; ++round) {
    const int w = 1 + static_cast<int>(rng() % 150);
    const int h = 1 + static_cast<int>(rng() % 20);
    const int ps = 3 + round % 2;
    check(round % 3 ? testframes::noise(w, h, ps, rng()) : testframes::screen(w, h, ps, rng()), w, h, ps);
    if (HasFatalFailure()) return;
  }
}

TEST_P(PlanePrediction, FullHdPhotographs) {
  const Bytes frame = testframes::photo_mosaic(1920, 1080, 3);
  if (frame.empty()) GTEST_SKIP() << "no photographs in " << testframes::photo_dir();
  check(frame, 1920, 1080, 3);
  check(testframes::photo_mosaic(1920, 1080, 4), 1920, 1080, 4);
}

TEST_P(PlanePrediction, EmptyGeometryWritesNothing) {
  for (auto [w, h] : {std::pair{0, 3}, {3, 0}, {-2, 3}, {3, -2}}) {
    for (int ps : {3, 4}) {
      const std::vector<Bytes> planes = forward({}, w, h, ps, GetParam());
      for (const Bytes& p : planes) EXPECT_TRUE(p.empty());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, PlanePrediction, testing::ValuesIn(planeruns::all_levels()), planeruns::level_name);

}  // namespace

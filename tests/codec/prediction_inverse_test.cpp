#include "codec/prediction_inverse.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "frames.h"
#include "plane_runs.h"
#include "reference.h"

namespace {

using Bytes = std::vector<unsigned char>;
using planeruns::forward;
using planeruns::inverse;

class InversePrediction : public testing::TestWithParam<PredictionSimd> {
 protected:
  void SetUp() override {
    if (!prediction_simd_supported(GetParam())) GTEST_SKIP() << "not on this CPU";
  }

  void round_trip(const Bytes& frame, int width, int height, int pixel_size) {
    const std::vector<Bytes> planes = forward(frame, width, height, pixel_size, GetParam());
    ASSERT_TRUE(inverse(planes, width, height, GetParam()) == frame) << width << "x" << height << "x" << pixel_size;
  }
};

TEST_P(InversePrediction, RebuildsTheTwoByThreeFrame) {
  // Byte 1 of the 2 x 3 frame holding 10 .. 60, from its residuals.
  const std::vector<Bytes> planes = {Bytes(6, 0), {10, 10, 20, 10, 10, 10}, Bytes(6, 0)};
  Bytes want(18, 0);
  for (int p = 0; p < 6; ++p) {
    want[3 * p] = want[3 * p + 1] = want[3 * p + 2] = static_cast<unsigned char>(10 * (p + 1));
  }
  EXPECT_EQ(inverse(planes, 2, 3, GetParam()), want);
}

TEST_P(InversePrediction, RoundTripsSmallAndOddGeometries) {
  const std::pair<int, int> sizes[] = {{1, 1},   {2, 1},   {1, 2},   {7, 1},    {1, 7},    {8, 1},
                                       {1, 8},   {2, 4},   {4, 2},   {3, 3},    {5, 7},    {15, 2},
                                       {16, 3},  {17, 2},  {31, 2},  {33, 5},   {1, 600},  {600, 1},
                                       {513, 1}, {511, 2}, {97, 41}, {129, 17}, {1000, 3}, {3, 1000}};
  std::uint32_t seed = 100;
  for (const auto& [w, h] : sizes) {
    for (int ps : {3, 4}) {
      round_trip(testframes::noise(w, h, ps, seed++), w, h, ps);
      round_trip(testframes::gradient(w, h, ps), w, h, ps);
      round_trip(testframes::screen(w, h, ps, seed++), w, h, ps);
      const Bytes pixel = ps == 3 ? Bytes{9, 200, 31} : Bytes{9, 200, 31, 4};
      round_trip(testframes::solid(w, h, pixel), w, h, ps);
      if (HasFatalFailure()) return;
    }
  }
}

TEST_P(InversePrediction, EveryResidualContentIsAFrame) {
  // The prediction is a bijection: random planes rebuild a frame that
  // predicts back to the same planes.
  std::mt19937 rng(23);
  for (int round = 0; round < 120; ++round) {
    const int w = 1 + static_cast<int>(rng() % 700);
    const int h = 1 + static_cast<int>(rng() % 9);
    const int ps = 3 + round % 2;
    std::vector<Bytes> planes;
    for (int k = 0; k < ps; ++k) planes.push_back(testframes::noise(w, h, 1, rng()));
    const Bytes frame = inverse(planes, w, h, GetParam());
    ASSERT_TRUE(forward(frame, w, h, ps, PredictionSimd::Scalar) == planes) << w << "x" << h << "x" << ps;
  }
}

TEST_P(InversePrediction, EmptyGeometryWritesNothing) {
  for (auto [w, h] : {std::pair{0, 3}, {3, 0}, {-2, 3}, {3, -2}}) {
    EXPECT_TRUE(inverse({Bytes{}, Bytes{}, Bytes{}}, w, h, GetParam()).empty());
    EXPECT_TRUE(inverse({Bytes{}, Bytes{}, Bytes{}, Bytes{}}, w, h, GetParam()).empty());
  }
}

TEST_P(InversePrediction, RoundTripsPhotographs) {
  if (!testframes::photos_available()) {
    GTEST_SKIP() << "no photographs in " << testframes::photo_dir();
  }
  // Colour photographs at their own (partly odd) sizes, and two with alpha.
  for (const char* name :
       {"astronaut.png", "chelsea.png", "color.png", "coffee.png", "motorcycle_left.png", "horse.png", "logo.png"}) {
    for (int ps : {3, 4}) {
      const testframes::Image image = testframes::photo(name, ps);
      ASSERT_FALSE(image.pixels.empty()) << name;
      round_trip(image.pixels, image.width, image.height, ps);
    }
  }
}

TEST_P(InversePrediction, RoundTripsLargeFrames) {
  const Bytes photo = testframes::photo_mosaic(1920, 1080, 3);
  if (!photo.empty()) round_trip(photo, 1920, 1080, 3);
  round_trip(testframes::noise(1920, 1080, 4, 8), 1920, 1080, 4);
  round_trip(testframes::noise(4096, 2160, 3, 9), 4096, 2160, 3);
  round_trip(testframes::gradient(4096, 2160, 4), 4096, 2160, 4);
}

INSTANTIATE_TEST_SUITE_P(Levels, InversePrediction, testing::ValuesIn(planeruns::all_levels()), planeruns::level_name);

}  // namespace

#include "codec/prediction.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/prediction_median.h"
#include "frames.h"
#include "guarded.h"
#include "reference.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes de_entropy(Bytes frame, int width, int height, int pixel_size) {
  Bytes out(frame.size(), 0xEE);
  if (pixel_size == 3) {
    DeEntropy(frame.data(), out.data(), width, height);
  } else {
    DeEntropy32(frame.data(), out.data(), width, height);
  }
  return out;
}

TEST(Median, PicksTheMiddleValue) {
  EXPECT_EQ(median(3, 1, 2), 2);
  EXPECT_EQ(median(5, 5, 1), 5);
  EXPECT_EQ(median(-4, 0, 7), 0);
  for (int x = -3; x <= 3; ++x) {
    for (int y = -3; y <= 3; ++y) {
      for (int z = -3; z <= 3; ++z) EXPECT_EQ(median(x, y, z), reference::middle(x, y, z));
    }
  }
}

TEST(Median, BytePredictorAgreesOnEveryNeighbourhood) {
  int mismatches = 0;
  for (unsigned l = 0; l < 256; ++l) {
    for (unsigned a = 0; a < 256; ++a) {
      for (unsigned d = 0; d < 256; ++d) {
        const int want =
            median(static_cast<int>(l), static_cast<int>(a), static_cast<int>(l + a) - static_cast<int>(d));
        mismatches += prediction_detail::predict(l, a, d) != static_cast<unsigned>(want);
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(DeEntropy, DecorrelatesInPlace) {
  Bytes pixel{10, 20, 30};
  Bytes out(3);
  DeEntropy(pixel.data(), out.data(), 1, 1);
  EXPECT_EQ(pixel, (Bytes{246, 20, 10}));
  EXPECT_EQ(out, (Bytes{246, 20, 10}));

  Bytes pixel32{10, 20, 30, 40};
  Bytes out32(4);
  DeEntropy32(pixel32.data(), out32.data(), 1, 1);
  EXPECT_EQ(out32, (Bytes{246, 20, 10, 40}));
}

TEST(DeEntropy, ResidualWrapsModulo256) {
  // Byte 1 of the second pixel is 5, predicted by its left neighbour 250.
  EXPECT_EQ(de_entropy({0, 250, 0, 0, 5, 0}, 2, 1, 3)[4], 11);
}

TEST(DeEntropy, TwoByThreeFrame) {
  Bytes frame(18, 0);
  const int green[] = {10, 20, 30, 40, 50, 60};
  for (int p = 0; p < 6; ++p) frame[3 * p + 1] = static_cast<unsigned char>(green[p]);
  const Bytes out = de_entropy(frame, 2, 3, 3);
  Bytes residual;
  for (int p = 0; p < 6; ++p) residual.push_back(out[3 * p + 1]);
  EXPECT_EQ(residual, (Bytes{10, 10, 20, 10, 10, 10}));
}

TEST(DeEntropy, OneColourFrameLeavesOnlyTheFirstPixel) {
  for (int ps : {3, 4}) {
    const Bytes pixel = ps == 3 ? Bytes{200, 60, 10} : Bytes{200, 60, 10, 77};
    const Bytes out = de_entropy(testframes::solid(13, 5, pixel), 13, 5, ps);
    Bytes want(out.size(), 0);
    want[0] = 140;
    want[1] = 60;
    want[2] = 206;
    if (ps == 4) want[3] = 77;
    EXPECT_EQ(out, want) << ps;
  }
}

TEST(DeEntropy, OnePixelWidePredictsFromAbove) {
  const Bytes frame = testframes::noise(1, 9, 3, 7);
  const Bytes in = reference::decorrelate(frame, 3);
  const Bytes out = de_entropy(frame, 1, 9, 3);
  for (std::size_t i = 3; i < out.size(); ++i) {
    EXPECT_EQ(out[i], static_cast<unsigned char>(in[i] - in[i - 3])) << i;
  }
}

TEST(DeEntropy, OneRowTouchesNothingBeyondTheFrame) {
  for (int ps : {3, 4}) {
    const Bytes frame = testframes::noise(37, 1, ps, 3);
    Guarded in(frame);
    Guarded out(frame.size());
    if (ps == 3) {
      DeEntropy(in.data(), out.data(), 37, 1);
    } else {
      DeEntropy32(in.data(), out.data(), 37, 1);
    }
    EXPECT_TRUE(in.guards_intact());
    EXPECT_TRUE(out.guards_intact());
    EXPECT_EQ(out.content(), reference::residuals(frame, 37, 1, ps));
  }
}

TEST(DeEntropy, EmptyOrNegativeGeometryDoesNothing) {
  Guarded in(0);
  Guarded out(0);
  for (auto [w, h] : {std::pair{0, 5}, {5, 0}, {-1, 4}, {4, -1}, {0, 0}}) {
    DeEntropy(in.data(), out.data(), w, h);
    DeEntropy32(in.data(), out.data(), w, h);
  }
  EXPECT_TRUE(in.guards_intact());
  EXPECT_TRUE(out.guards_intact());
}

TEST(DeEntropy, MatchesTheRulesOnManyFrames) {
  std::mt19937 rng(11);
  for (int round = 0; round < 200; ++round) {
    const int w = 1 + static_cast<int>(rng() % 40);
    const int h = 1 + static_cast<int>(rng() % 12);
    const int ps = round % 2 ? 3 : 4;
    const Bytes frame = round % 3 ? testframes::noise(w, h, ps, rng()) : testframes::gradient(w, h, ps);
    Guarded in(frame);
    Guarded out(frame.size());
    if (ps == 3) {
      DeEntropy(in.data(), out.data(), w, h);
    } else {
      DeEntropy32(in.data(), out.data(), w, h);
    }
    ASSERT_EQ(out.content(), reference::residuals(frame, w, h, ps)) << w << "x" << h << "x" << ps;
    ASSERT_EQ(in.content(), reference::decorrelate(frame, ps));
    ASSERT_TRUE(in.guards_intact() && out.guards_intact());
  }
}

// blockDeEntropy on a plane of one-byte samples.
Bytes block_reference(const Bytes& in, int stride) {
  Bytes out(in.size());
  const int n = static_cast<int>(in.size());
  for (int i = 0; i < n; ++i) {
    if (i == 0) {
      out[i] = in[0];
    } else if (i <= stride) {
      out[i] = static_cast<unsigned char>(in[i] - in[i - 1]);
    } else {
      const int l = in[i - 1], a = in[i - stride], d = in[i - stride - 1];
      out[i] = static_cast<unsigned char>(in[i] - reference::middle(l, a, l + a - d));
    }
  }
  return out;
}

TEST(BlockDeEntropy, SecondRowStartsFromTheLeft) {
  // Rows of 2: 10 20 / 30 40 / 50 60. Predicted from above, 30 would leave 20.
  const Bytes in{10, 20, 30, 40, 50, 60};
  Bytes out(6);
  blockDeEntropy(in.data(), out.data(), 2, 6);
  EXPECT_EQ(out, (Bytes{10, 10, 10, 10, 10, 10}));
  EXPECT_EQ(in, (Bytes{10, 20, 30, 40, 50, 60}));
}

TEST(BlockDeEntropy, MatchesTheRules) {
  std::mt19937 rng(5);
  for (int round = 0; round < 100; ++round) {
    const int n = 1 + static_cast<int>(rng() % 300);
    const int stride = static_cast<int>(rng() % 40);
    const Bytes plane = testframes::noise(n, 1, 1, rng());
    Guarded out(plane.size());
    blockDeEntropy(plane.data(), out.data(), stride, n);
    ASSERT_EQ(out.content(), block_reference(plane, stride)) << n << " " << stride;
    ASSERT_TRUE(out.guards_intact());
  }
}

TEST(BlockDeEntropy, EdgeGeometries) {
  const Bytes plane{1, 5, 2, 9};
  Guarded out(4);
  // A bad stride or length writes nothing.
  blockDeEntropy(plane.data(), out.data(), -3, 4);
  blockDeEntropy(plane.data(), out.data(), 2, 0);
  blockDeEntropy(plane.data(), out.data(), 2, -5);
  EXPECT_EQ(out.content(), Bytes(4, 0xEE));
  // A stride beyond the plane leaves only left differences.
  blockDeEntropy(plane.data(), out.data(), 100, 4);
  EXPECT_EQ(out.content(), (Bytes{1, 4, 253, 7}));
  EXPECT_TRUE(out.guards_intact());
}

}  // namespace

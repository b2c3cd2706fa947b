#include "app/pixel_convert.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// Both the chosen path and the plain one, with guard bytes around the result.
void expect_conversion(const Bytes& source, int width, int height, const Bytes& expected) {
  for (bool scalar : {false, true}) {
    Bytes out(expected.size() + 32, 0xEE);
    if (scalar) {
      pixel_convert_detail::raw_to_BGR_scalar(source.data(), out.data() + 16, width, height);
    } else {
      raw_to_BGR(source.data(), out.data() + 16, width, height);
    }
    EXPECT_EQ(Bytes(out.begin() + 16, out.end() - 16), expected) << (scalar ? "scalar" : "vector");
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 16), Bytes(16, 0xEE));
    EXPECT_EQ(Bytes(out.end() - 16, out.end()), Bytes(16, 0xEE));
  }
}

TEST(RawToBgr, FlipsRowsAndSwapsRedAndBlue) {
  // Top row P, Q; bottom row U, V; each R, G, B.
  const Bytes source{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  expect_conversion(source, 2, 2, {9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4});
  expect_conversion({1, 2, 3, 4, 5, 6, 7, 8, 9}, 3, 1, {3, 2, 1, 6, 5, 4, 9, 8, 7});
  expect_conversion(source, 0, 4, {});
  expect_conversion(source, 4, 0, {});
}

TEST(RawToBgr, EveryWidthMatchesAPlainReference) {
  std::mt19937 rng(3);
  for (int width : {1, 3, 5, 6, 7, 15, 16, 17, 31, 64, 333}) {
    for (int height : {1, 2, 9}) {
      Bytes source(static_cast<std::size_t>(width * height * 3));
      for (auto& b : source) b = static_cast<unsigned char>(rng());
      Bytes expected(source.size());
      const std::size_t row = static_cast<std::size_t>(width) * 3;
      for (int k = 0; k < height; ++k) {
        for (std::size_t i = 0; i < row; i += 3) {
          const unsigned char* s = &source[(height - 1 - k) * row + i];
          unsigned char* d = &expected[k * row + i];
          d[0] = s[2];
          d[1] = s[1];
          d[2] = s[0];
        }
      }
      SCOPED_TRACE(testing::Message() << width << " x " << height);
      expect_conversion(source, width, height, expected);
    }
  }
}

}  // namespace

// The first difference between a decoded frame, in any row order and row
// length, and the movie's bitmap, in reading order.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "crvtdec/frame_compare.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using crvtdec::FrameView;

constexpr int kWidth = 5;
constexpr int kHeight = 4;

// A packed bottom-up BGR bitmap with a different value in every byte.
Bytes bitmap() {
  Bytes b(3 * kWidth * kHeight);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 1);
  return b;
}

// The same picture with rows of `stride` bytes, in either row order.
Bytes relaid(const Bytes& packed, std::size_t stride, bool top_down) {
  Bytes out(stride * kHeight, 0xEE);
  for (int k = 0; k < kHeight; ++k) {
    const int from = top_down ? kHeight - 1 - k : k;
    std::copy_n(packed.begin() + from * 3 * kWidth, 3 * kWidth, out.begin() + static_cast<std::ptrdiff_t>(k * stride));
  }
  return out;
}

FrameView view(const Bytes& bytes, std::size_t stride, bool top_down) {
  return FrameView{bytes.data(), kWidth, kHeight, 3, stride, top_down};
}

TEST(FirstDifference, EqualPicturesInEveryLayout) {
  const Bytes expected = bitmap();
  for (const std::size_t stride : {std::size_t{15}, std::size_t{16}, std::size_t{21}}) {
    for (const bool top_down : {false, true}) {
      const Bytes frame = relaid(expected, stride, top_down);
      EXPECT_FALSE(crvtdec::first_difference(view(frame, stride, top_down), expected)) << stride << top_down;
    }
  }
}

// The bitmap's bottom row comes first in memory, but the picture is read from
// the top: of two differences, the one in the upper row is reported, and
// within a row the leftmost.
TEST(FirstDifference, ReportsTheFirstPixelInReadingOrder) {
  const Bytes expected = bitmap();
  for (const std::size_t stride : {std::size_t{15}, std::size_t{16}}) {
    for (const bool top_down : {false, true}) {
      SCOPED_TRACE(testing::Message() << "stride " << stride << (top_down ? " top-down" : " bottom-up"));
      Bytes changed = expected;
      changed[3 * kWidth * 0 + 3 * 4 + 2] ^= 1;  // bottom row (row 3 from the top), column 4, red
      changed[3 * kWidth * 2 + 3 * 3 + 1] ^= 1;  // row 1 from the top, column 3, green
      changed[3 * kWidth * 2 + 3 * 4 + 0] ^= 1;  // row 1, column 4, blue
      const Bytes frame = relaid(changed, stride, top_down);
      const auto d = crvtdec::first_difference(view(frame, stride, top_down), expected);
      ASSERT_TRUE(d);
      EXPECT_EQ(d->row, 1);
      EXPECT_EQ(d->column, 3);
      const std::size_t at = 3 * kWidth * 2 + 3 * 3;
      EXPECT_EQ(d->frame_pixel, (std::array<std::uint8_t, 3>{changed[at], changed[at + 1], changed[at + 2]}));
      EXPECT_EQ(d->bitmap_pixel, (std::array<std::uint8_t, 3>{expected[at], expected[at + 1], expected[at + 2]}));
    }
  }
}

TEST(FirstDifference, LastByteOfThePicture) {
  const Bytes expected = bitmap();
  Bytes changed = expected;
  changed[3 * kWidth - 1] ^= 0x80;  // bottom row, last column, red
  const auto d = crvtdec::first_difference(view(changed, 3 * kWidth, false), expected);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->row, kHeight - 1);
  EXPECT_EQ(d->column, kWidth - 1);
}

}  // namespace

// The first difference between a decoded frame, in any row order and row
// length, and the movie's frame, "raw " or "WRLE", in reading order.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "crvtdec/frame_compare.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using crvtdec::FrameView;
using crvtdec::MovieFrame;

constexpr int kWidth = 5;
constexpr int kHeight = 4;
constexpr std::size_t kRow = 3 * kWidth;

// A packed bottom-up BGR bitmap with a different value in every byte.
Bytes bitmap() {
  Bytes b(kRow * kHeight);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 1);
  return b;
}

// The bitmap as a "raw " movie stores it: top-down R, G, B.
Bytes raw(const Bytes& bgr) {
  Bytes out(bgr.size());
  for (int y = 0; y < kHeight; ++y) {
    for (std::size_t x = 0; x < kRow; x += 3) {
      const std::size_t from = (kHeight - 1 - y) * kRow + x, to = y * kRow + x;
      out[to] = bgr[from + 2];
      out[to + 1] = bgr[from + 1];
      out[to + 2] = bgr[from];
    }
  }
  return out;
}

// The bitmap with rows of `stride` bytes, in either row order.
Bytes relaid(const Bytes& packed, std::size_t stride, bool top_down) {
  Bytes out(stride * kHeight, 0xEE);
  for (int k = 0; k < kHeight; ++k) {
    const int from = top_down ? kHeight - 1 - k : k;
    std::copy_n(packed.begin() + from * kRow, kRow, out.begin() + static_cast<std::ptrdiff_t>(k * stride));
  }
  return out;
}

FrameView view(const Bytes& bytes, std::size_t stride, bool top_down) {
  return FrameView{bytes.data(), kWidth, kHeight, 3, stride, top_down};
}

struct Layout {
  std::size_t stride;
  bool top_down;
  bool raw_movie;
};

std::vector<Layout> layouts() {
  std::vector<Layout> all;
  for (const std::size_t stride : {kRow, kRow + 1, kRow + 6}) {
    for (const bool top_down : {false, true}) {
      for (const bool raw_movie : {false, true}) all.push_back({stride, top_down, raw_movie});
    }
  }
  return all;
}

// The bitmap's bottom row comes first in memory, but the picture is read from
// the top: of the differences, the one in the upper row is reported, and
// within a row the leftmost. Equal pictures have none, in every layout.
TEST(FirstDifference, ReportsTheFirstPixelInReadingOrder) {
  const Bytes expected = bitmap();
  const Bytes expected_raw = raw(expected);
  Bytes changed = expected;
  changed[kRow * 0 + 3 * 4 + 2] ^= 1;  // bottom row (row 3 from the top), column 4, red
  changed[kRow * 2 + 3 * 3 + 1] ^= 1;  // row 1 from the top, column 3, green
  changed[kRow * 2 + 3 * 4 + 0] ^= 1;  // row 1, column 4, blue
  crvtdec::FrameComparer comparer;
  ASSERT_TRUE(comparer.begin(kWidth));
  for (const Layout& l : layouts()) {
    SCOPED_TRACE(testing::Message() << "stride " << l.stride << (l.top_down ? " top-down" : " bottom-up")
                                    << (l.raw_movie ? " raw" : " WRLE"));
    const Bytes frame = relaid(changed, l.stride, l.top_down);
    const MovieFrame movie{l.raw_movie ? expected_raw : expected, l.raw_movie};
    const Bytes same = relaid(expected, l.stride, l.top_down);
    EXPECT_FALSE(comparer.first_difference(view(same, l.stride, l.top_down), movie));
    const auto d = comparer.first_difference(view(frame, l.stride, l.top_down), movie);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->row, 1);
    EXPECT_EQ(d->column, 3);
    const std::size_t at = kRow * 2 + 3 * 3;
    EXPECT_EQ(d->frame_pixel, (std::array<std::uint8_t, 3>{changed[at], changed[at + 1], changed[at + 2]}));
    EXPECT_EQ(d->movie_pixel, (std::array<std::uint8_t, 3>{expected[at], expected[at + 1], expected[at + 2]}));
  }
}

TEST(FirstDifference, LastByteOfThePicture) {
  const Bytes expected = bitmap();
  Bytes changed = expected;
  changed[kRow - 1] ^= 0x80;  // bottom row, last column, red
  crvtdec::FrameComparer comparer;
  ASSERT_TRUE(comparer.begin(kWidth));
  for (const bool raw_movie : {false, true}) {
    const Bytes movie_bytes = raw_movie ? raw(expected) : expected;
    const auto d = comparer.first_difference(view(changed, kRow, false), MovieFrame{movie_bytes, raw_movie});
    ASSERT_TRUE(d);
    EXPECT_EQ(d->row, kHeight - 1);
    EXPECT_EQ(d->column, kWidth - 1);
  }
}

}  // namespace

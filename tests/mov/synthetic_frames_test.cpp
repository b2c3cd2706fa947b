#include "mov/synthetic_frames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mov/ppm_image.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using movgen::Content;
using movgen::FrameSource;

Bytes picture(const FrameSource& s, std::uint32_t index) {
  Bytes rgb(s.frame_size());
  s.render(index, rgb);
  return rgb;
}

Bytes ppm(const std::string& header, const Bytes& samples) {
  Bytes b(header.begin(), header.end());
  b.insert(b.end(), samples.begin(), samples.end());
  return b;
}

TEST(FrameForms, AviAndStoredForms) {
  // P Q on top, U V below, each R G B.
  const Bytes rgb{1, 2, 3, 4, 5, 6, 11, 12, 13, 14, 15, 16};
  Bytes avi(12), stored(12);
  movgen::to_avi(2, 2, rgb, avi);
  EXPECT_EQ(avi, (Bytes{13, 12, 11, 16, 15, 14, 3, 2, 1, 6, 5, 4}));
  movgen::to_stored(movgen::DataFormat::wrle, 2, 2, rgb, stored);
  EXPECT_EQ(stored, avi);
  movgen::to_stored(movgen::DataFormat::raw, 2, 2, rgb, stored);
  EXPECT_EQ(stored, rgb);
  // Rows of odd widths are packed.
  const Bytes row{1, 2, 3, 4, 5, 6, 7, 8, 9};
  Bytes out(9);
  movgen::to_avi(3, 1, row, out);
  EXPECT_EQ(out, (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7}));
  const FrameSource s(5, 3, {Content::shape});
  Bytes bgr(s.frame_size());
  movgen::to_avi(5, 3, picture(s, 4), bgr);
  EXPECT_EQ(movgen::stored_frame(s, movgen::DataFormat::wrle, 4), bgr);
  EXPECT_EQ(movgen::stored_frame(s, movgen::DataFormat::raw, 4), picture(s, 4));
}

TEST(SyntheticContent, EveryKindRendersDeterministicallyAtAnySize) {
  movgen::PpmImage image{2, 1, {255, 0, 0, 0, 0, 255}};
  for (const char* name : {"gradient-h", "gradient-v", "noise", "solid", "grey", "shape", "screen", "ppm"}) {
    Content c{};
    ASSERT_TRUE(movgen::parse_content(name, c)) << name;
    EXPECT_STREQ(movgen::content_name(c), name);
    for (auto [w, h] : {std::pair{1, 1}, {3, 1}, {1, 4}, {0, 5}, {33, 17}, {320, 240}}) {
      const FrameSource a(w, h, {c, 9}, image), b(w, h, {c, 9}, image);
      EXPECT_EQ(picture(a, 3), picture(b, 3)) << name << " " << w << "x" << h;
    }
  }
  Content c{};
  EXPECT_FALSE(movgen::parse_content("plaid", c));
}

TEST(SyntheticContent, MovingKindsChangeEveryFrameAndStillOnesDoNot) {
  for (Content c :
       {Content::gradient_h, Content::gradient_v, Content::grey, Content::shape, Content::screen, Content::noise}) {
    const FrameSource s(64, 48, {c});
    EXPECT_NE(picture(s, 0), picture(s, 1)) << movgen::content_name(c);
  }
  EXPECT_NE(picture(FrameSource(8, 8, {Content::noise, 1}), 0), picture(FrameSource(8, 8, {Content::noise, 2}), 0));
  const FrameSource still(2, 1, {Content::solid, 1, {10, 20, 30}});
  EXPECT_EQ(picture(still, 0), (Bytes{10, 20, 30, 10, 20, 30}));
  EXPECT_EQ(picture(still, 0), picture(still, 1));
}

TEST(SyntheticContent, ImagesAreResizedOrTiled) {
  // 2 x 1: red, blue.
  const movgen::PpmImage image{2, 1, {255, 0, 0, 0, 0, 255}};
  const Bytes resized = picture(FrameSource(4, 2, {Content::image, 1, {}, movgen::Fit::resize}, image), 0);
  EXPECT_EQ(resized, (Bytes{255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255, 255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255}));
  const FrameSource tiled(3, 1, {Content::image, 1, {}, movgen::Fit::tile}, image);
  EXPECT_EQ(picture(tiled, 0), (Bytes{255, 0, 0, 0, 0, 255, 255, 0, 0}));
  EXPECT_EQ(picture(tiled, 1), (Bytes{0, 0, 255, 255, 0, 0, 0, 0, 255}));  // panned
}

TEST(PpmImage, ParsesBinaryImagesOnly) {
  movgen::PpmImage img;
  std::string error;
  ASSERT_TRUE(movgen::parse_ppm(ppm("P6\n# made by hand\n2 1 # size\n255\n", {1, 2, 3, 4, 5, 6}), img, error)) << error;
  EXPECT_EQ(img.width, 2);
  EXPECT_EQ(img.height, 1);
  EXPECT_EQ(img.rgb, (Bytes{1, 2, 3, 4, 5, 6}));
  // Sixteen-bit and small maxvals are scaled to 8 bits.
  ASSERT_TRUE(movgen::parse_ppm(ppm("P6 1 1 65535 ", {0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00}), img, error));
  EXPECT_EQ(img.rgb, (Bytes{255, 128, 0}));
  ASSERT_TRUE(movgen::parse_ppm(ppm("P6 1 1 1\n", {1, 0, 1}), img, error));
  EXPECT_EQ(img.rgb, (Bytes{255, 0, 255}));
  // Other or broken files are refused.
  EXPECT_FALSE(movgen::parse_ppm(ppm("P3\n1 1\n255\n", {'1', ' ', '2', ' ', '3'}), img, error));
  EXPECT_FALSE(movgen::parse_ppm(ppm("P6\n2 2\n255\n", {1, 2, 3}), img, error));
  EXPECT_EQ(error, "truncated PPM image");
  EXPECT_FALSE(movgen::parse_ppm(ppm("P6\n2", {}), img, error));
}

}  // namespace

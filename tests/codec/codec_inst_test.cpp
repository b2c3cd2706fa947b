#include "codec/codec_inst.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "codec_runs.h"
#include "frames.h"

namespace {

using codecruns::Bytes;
using codecruns::Coded;
using codecruns::encode_one;
using codecruns::Encoder;
using codecruns::full_frame_by_planes;
using codecruns::Settings;

const Settings kSkip{.skip_unchanged = 1};
const Settings kAlpha{.keep_alpha = 1};
const Settings kSkipAlpha{.skip_unchanged = 1, .keep_alpha = 1};

TEST(FrameFormat, CodesAndRecord) {
  EXPECT_EQ(FOURCC_CRVT, 0x54565243u);
  EXPECT_EQ(FOURCC_YUY2, 0x32595559u);
  EXPECT_EQ(FOURCC_YV12, 0x32315659u);
  static_assert(offsetof(ICCOMPRESS, dwFlags) == 0 && offsetof(ICCOMPRESS, dwCompressedSize) == 4);
  static_assert(offsetof(ICCOMPRESS, lpOutput) < offsetof(ICCOMPRESS, lpInput));
  static_assert(sizeof(ICCOMPRESS::dwFlags) == 4 && sizeof(ICCOMPRESS::dwCompressedSize) == 4);
}

TEST(CodecInst, OneColourFrames) {
  const Coded grey = encode_one(testframes::solid(5, 4, {77, 77, 77}), 5, 4, 24);
  EXPECT_EQ(grey.bytes, (Bytes{FRAME_GREY, 77}));
  EXPECT_EQ(grey.flags, 0x10u);
  const Coded flat = encode_one(testframes::solid(5, 4, {1, 2, 3}), 5, 4, 24);
  EXPECT_EQ(flat.bytes, (Bytes{FRAME_FLAT24, 1, 2, 3}));
  EXPECT_EQ(flat.flags, 0x10u);

  // Every pixel but the last equals pixel 0.
  Bytes last = testframes::solid(5, 4, {1, 2, 3});
  last.back() = 4;
  EXPECT_EQ(encode_one(last, 5, 4, 24).bytes, full_frame_by_planes(last, 5, 4, 3));
}

// Exactly 8 pixels leaves the shifted comparison nothing to cover; fewer are
// compared with pixel 0 one by one. A difference in any single pixel or byte
// must make a full frame.
TEST(CodecInst, TinyFramesCompareEveryPixel) {
  for (int n = 1; n <= 9; ++n) {
    const Bytes same = testframes::solid(n, 1, {9, 8, 7});
    EXPECT_EQ(encode_one(same, n, 1, 24).bytes, (Bytes{FRAME_FLAT24, 9, 8, 7})) << n;
    EXPECT_EQ(encode_one(same, 1, n, 24).bytes, (Bytes{FRAME_FLAT24, 9, 8, 7})) << n;
    for (std::size_t i = 3; i < same.size(); ++i) {
      Bytes other = same;
      other[i] ^= 0x40;
      EXPECT_EQ(encode_one(other, n, 1, 24).bytes[0], FRAME_FULL24) << n << " pixels, byte " << i;
    }
  }
}

TEST(CodecInst, EmptyFrameIsThreeEmptyPlanes) {
  // An empty plane compacts to 00 E3 00 00 00 00 00 and the byte behind.
  const Bytes empty_plane{0x00, 0xE3, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  Bytes want{FRAME_FULL24, 17, 0, 0, 0, 25, 0, 0, 0};
  for (int k = 0; k < 3; ++k) want.insert(want.end(), empty_plane.begin(), empty_plane.end());
  for (auto [w, h] : {std::pair{0, 0}, {0, 5}, {7, 0}}) {
    const Coded c = encode_one({}, w, h, 24);
    EXPECT_EQ(c.bytes, want);
    EXPECT_EQ(c.flags, 0x10u);
  }
  Bytes want32{FRAME_FULL32, 21, 0, 0, 0, 29, 0, 0, 0, 37, 0, 0, 0};
  for (int k = 0; k < 4; ++k) want32.insert(want32.end(), empty_plane.begin(), empty_plane.end());
  EXPECT_EQ(encode_one({}, 0, 3, 32, kAlpha).bytes, want32);
}

TEST(CodecInst, SkipUnchanged) {
  const Bytes a = testframes::gradient(16, 9, 3);
  Encoder skip(16, 9, 24, kSkip);
  EXPECT_EQ(skip.encode(a).bytes[0], FRAME_FULL24);
  const Coded repeat = skip.encode(a);
  EXPECT_TRUE(repeat.bytes.empty());
  EXPECT_EQ(repeat.flags, 0u);
  Bytes first = a;
  first.front() ^= 1;
  EXPECT_EQ(skip.encode(first).bytes, full_frame_by_planes(first, 16, 9, 3));
  Bytes last = first;
  last.back() ^= 1;
  EXPECT_EQ(skip.encode(last).bytes, full_frame_by_planes(last, 16, 9, 3));

  // A one-colour frame is remembered too.
  const Bytes grey = testframes::solid(16, 9, {3, 3, 3});
  EXPECT_EQ(skip.encode(grey).bytes, (Bytes{FRAME_GREY, 3}));
  EXPECT_TRUE(skip.encode(grey).bytes.empty());

  // The previous frame starts as 128 in every byte.
  Encoder fresh(16, 9, 24, kSkip);
  EXPECT_TRUE(fresh.encode(testframes::solid(16, 9, {128, 128, 128})).bytes.empty());

  // Without the setting identical frames are each coded.
  Encoder plain(16, 9, 24);
  EXPECT_EQ(plain.encode(a).bytes, plain.encode(a).bytes);
  EXPECT_EQ(plain.encode(grey).bytes, (Bytes{FRAME_GREY, 3}));
  EXPECT_EQ(plain.encode(grey).bytes, (Bytes{FRAME_GREY, 3}));
  EXPECT_EQ(plain.encode(testframes::solid(16, 9, {128, 128, 128})).bytes, (Bytes{FRAME_GREY, 128}));
}

// Turned on between frames, the test does not trust a previous frame that
// was not kept while it was off.
TEST(CodecInst, SkipUnchangedTurnedOnLater) {
  const Bytes a = testframes::gradient(8, 8, 3);
  Encoder encoder(8, 8, 24);
  encoder.encode(a);
  encoder.codec().skip_unchanged = 1;
  EXPECT_EQ(encoder.encode(a).bytes[0], FRAME_FULL24);
  EXPECT_TRUE(encoder.encode(a).bytes.empty());
}

// The frame's offsets add up the lengths compact() reports, byte behind
// included (written as 0); the fused prediction gives the bytes of DeEntropy
// and the split.
TEST(CodecInst, FullFramesMatchPlaneByPlaneCoding) {
  struct Case {
    Bytes frame24, frame32;
    int w, h;
  };
  std::vector<Case> cases = {
      {testframes::noise(33, 7, 3, 1), testframes::noise(33, 7, 4, 2), 33, 7},
      {testframes::screen(200, 60, 3, 3), testframes::screen(200, 60, 4, 3), 200, 60},
      {testframes::gradient(1, 50, 3), testframes::gradient(1, 50, 4), 1, 50},
      {testframes::gradient(50, 1, 3), testframes::gradient(50, 1, 4), 50, 1},
  };
  if (testframes::photos_available()) {
    cases.push_back({testframes::photo_mosaic(640, 360, 3), testframes::photo_mosaic(640, 360, 4), 640, 360});
  }
  for (const Case& c : cases) {
    for (PredictionSimd level : {PredictionSimd::Scalar, best_prediction_simd()}) {
      const Settings s24{.simd = level};
      const Settings s32{.keep_alpha = 1, .simd = level};
      EXPECT_EQ(encode_one(c.frame24, c.w, c.h, 24, s24).bytes, full_frame_by_planes(c.frame24, c.w, c.h, 3))
          << c.w << "x" << c.h;
      EXPECT_EQ(encode_one(c.frame32, c.w, c.h, 32, s32).bytes, full_frame_by_planes(c.frame32, c.w, c.h, 4))
          << c.w << "x" << c.h;
    }
  }
}

TEST(CodecInst, ThirtyTwoBitFramesWithoutAlpha) {
  Bytes frame = testframes::screen(40, 30, 4, 5);
  const Bytes three = codecruns::drop_alpha(frame);
  EXPECT_EQ(encode_one(frame, 40, 30, 32).bytes, encode_one(three, 40, 30, 24).bytes);
  const Bytes grey32 = testframes::solid(9, 2, {6, 6, 6, 200});
  EXPECT_EQ(encode_one(grey32, 9, 2, 32).bytes, (Bytes{FRAME_GREY, 6}));

  // Only the unchanged-frame test sees the fourth bytes.
  Encoder skip(40, 30, 32, kSkip);
  skip.encode(frame);
  frame[3] ^= 0xFF;
  EXPECT_EQ(skip.encode(frame).bytes, encode_one(three, 40, 30, 24).bytes);
  EXPECT_TRUE(skip.encode(frame).bytes.empty());

  // The same after a grey frame: its fourth bytes are remembered as given.
  Encoder after_grey(9, 2, 32, kSkip);
  after_grey.encode(grey32);
  EXPECT_EQ(after_grey.encode(testframes::solid(9, 2, {6, 6, 6, 6})).bytes, (Bytes{FRAME_GREY, 6}));
  EXPECT_TRUE(after_grey.encode(testframes::solid(9, 2, {6, 6, 6, 6})).bytes.empty());
}

TEST(CodecInst, ThirtyTwoBitFramesWithAlpha) {
  const Coded flat = encode_one(testframes::solid(7, 3, {1, 2, 3, 4}), 7, 3, 32, kAlpha);
  EXPECT_EQ(flat.bytes, (Bytes{FRAME_FLAT32, 1, 2, 3, 4}));
  EXPECT_EQ(flat.flags, 0x10u);
  EXPECT_EQ(encode_one(testframes::solid(7, 3, {5, 5, 5, 5}), 7, 3, 32, kAlpha).bytes,
            (Bytes{FRAME_FLAT32, 5, 5, 5, 5}));

  for (int n = 1; n <= 5; ++n) {
    const Bytes same = testframes::solid(n, 1, {1, 2, 3, 4});
    EXPECT_EQ(encode_one(same, n, 1, 32, kAlpha).bytes, (Bytes{FRAME_FLAT32, 1, 2, 3, 4})) << n;
    for (std::size_t i = 4; i < same.size(); ++i) {
      Bytes other = same;
      other[i] ^= 1;
      EXPECT_EQ(encode_one(other, n, 1, 32, kAlpha).bytes, full_frame_by_planes(other, n, 1, 4)) << n;
    }
  }

  const Bytes frame = testframes::gradient(12, 5, 4);
  Encoder skip(12, 5, 32, kSkipAlpha);
  EXPECT_EQ(skip.encode(frame).bytes, full_frame_by_planes(frame, 12, 5, 4));
  const Coded repeat = skip.encode(frame);
  EXPECT_TRUE(repeat.bytes.empty());
  EXPECT_EQ(repeat.flags, 0u);
}

// The bound holds for content that does not compress, at every size class
// of the coder; the guards of the output buffer check it too.
TEST(CodecInst, NoiseFramesFitTheBound) {
  for (auto [w, h] : {std::pair{1, 1}, {3, 2}, {64, 64}, {300, 200}, {1024, 600}}) {
    for (int depth : {24, 32}) {
      const Bytes frame = testframes::noise(w, h, depth / 8, static_cast<std::uint32_t>(w + depth));
      const Coded c = encode_one(frame, w, h, depth, depth == 32 ? kAlpha : Settings{});
      EXPECT_LE(c.bytes.size(), max_frame_size(w, h, depth));
      EXPECT_GT(c.bytes.size(), frame.size());
    }
  }
}

TEST(CodecInst, BeginRefusesWhatItCannotTake) {
  for (auto [w, h, depth] : {std::tuple{10, 10, 16},
                             {10, 10, 8},
                             {-1, 10, 24},
                             {10, -1, 24},
                             {65536, 65536, 24},
                             {1, 1 << 30, 24},
                             {40000, 30000, 32}}) {
    CodecInst codec;
    EXPECT_EQ(codec.CompressBegin(w, h, depth), ICERR_BADFORMAT) << w << "x" << h << "x" << depth;
    EXPECT_EQ(codec.residuals, nullptr);
    EXPECT_EQ(codec.prev_frame, nullptr);
    unsigned char out[16];
    const unsigned char in[3] = {};
    ICCOMPRESS record{0, 0, out, in};
    EXPECT_EQ(codec.CompressContinue(&record, 0), ICERR_ERROR);
    EXPECT_EQ(record.dwCompressedSize, 0u);
  }
  EXPECT_EQ(max_frame_size(10, 10, 16), 0u);
  EXPECT_EQ(max_frame_size(65536, 65536, 24), 0u);
}

TEST(CodecInst, BuffersAndEnd) {
  CodecInst codec;
  codec.wide_buffers = 1;
  ASSERT_EQ(codec.CompressBegin(10, 3, 24), ICERR_OK);
  EXPECT_EQ(codec.frame_bytes, 90u);
  for (int i = 0; i < 10 * 3 * 4 + 2048; ++i) ASSERT_EQ(codec.prev_frame[static_cast<std::size_t>(i)], 128);
  EXPECT_EQ(codec.CompressEnd(), 0);
  EXPECT_EQ(codec.residuals, nullptr);
  EXPECT_EQ(codec.prev_frame, nullptr);
  EXPECT_EQ(codec.coder.cum, nullptr);
  EXPECT_EQ(codec.CompressEnd(), 0);
}

// A child process limited to 512 MiB of address space asks for buffers of
// about 800 MB each.
TEST(CodecInstDeathTest, BeginWithoutMemoryFailsCleanly) {
#ifdef QUELMUX_TEST_ASAN
  GTEST_SKIP() << "the sanitizer's allocator does not allow an address-space limit";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto begin = [] {
    const rlimit limit{std::size_t{512} << 20, std::size_t{512} << 20};
    setrlimit(RLIMIT_AS, &limit);
    CodecInst codec;
    const bool refused = codec.CompressBegin(16384, 16384, 24) == ICERR_MEMORY && codec.residuals == nullptr &&
                         codec.prev_frame == nullptr && codec.work == nullptr && codec.coder.rle_buffer == nullptr;
    std::exit(refused ? 0 : 1);
  };
  EXPECT_EXIT(begin(), ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace

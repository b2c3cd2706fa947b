#include "codec/frame_decoder.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "codec_runs.h"
#include "entropy/byte_order.h"
#include "frames.h"
#include "plane_runs.h"

namespace {

using codecruns::Bytes;
using codecruns::Encoder;
using codecruns::Settings;

Bytes current(const FrameDecoder& d) { return Bytes(d.frame().begin(), d.frame().end()); }

// Encoder and decoder at the same instruction-set level.
class RoundTrip : public testing::TestWithParam<PredictionSimd> {
 protected:
  void SetUp() override {
    if (!prediction_simd_supported(GetParam())) GTEST_SKIP() << "not on this CPU";
  }

  // Encodes and decodes the frames in order; each must come back as given
  // (as 3-byte pixels when a 32-bit stream drops the fourth byte).
  void run(const std::vector<Bytes>& frames, int w, int h, int depth, Settings s = {}) {
    s.simd = GetParam();
    Encoder encoder(w, h, depth, s);
    FrameDecoder decoder;
    decoder.simd = GetParam();
    ASSERT_EQ(decoder.Begin(w, h, depth), ICERR_OK);
    const bool alpha = depth == 32 && s.keep_alpha != 0;
    Bytes want = current(decoder);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const codecruns::Coded c = encoder.encode(frames[i]);
      ASSERT_EQ(decoder.Decode(c.bytes), ICERR_OK) << w << "x" << h << " frame " << i;
      // A null frame keeps what the decoder holds.
      if (!c.bytes.empty()) {
        want = depth == 32 && !alpha ? codecruns::drop_alpha(frames[i]) : frames[i];
        EXPECT_EQ(decoder.pixel_size(), alpha ? 4 : 3);
      }
      ASSERT_TRUE(current(decoder) == want) << w << "x" << h << "x" << depth << " frame " << i;
    }
  }
};

TEST_P(RoundTrip, SizesAndContents) {
  const std::pair<int, int> sizes[] = {{0, 4},  {4, 0},   {1, 1},   {1, 13},  {13, 1},  {7, 1},
                                       {1, 7},  {8, 1},   {2, 4},   {3, 3},   {5, 7},   {33, 5},
                                       {65, 9}, {127, 3}, {1, 300}, {300, 1}, {97, 41}, {161, 100}};
  std::uint32_t seed = 1;
  for (const auto& [w, h] : sizes) {
    for (int ps : {3, 4}) {
      const std::vector<Bytes> frames = {testframes::noise(w, h, ps, seed++), testframes::gradient(w, h, ps),
                                         testframes::screen(w, h, ps, seed++),
                                         testframes::solid(w, h, ps == 3 ? Bytes{9, 200, 31} : Bytes{9, 200, 31, 4}),
                                         testframes::solid(w, h, Bytes(static_cast<std::size_t>(ps), 44))};
      if (ps == 3) {
        run(frames, w, h, 24);
      } else {
        run(frames, w, h, 32, {.keep_alpha = 1});
        run(frames, w, h, 32);
      }
      if (HasFatalFailure()) return;
    }
  }
}

TEST_P(RoundTrip, Photographs) {
  if (!testframes::photos_available()) GTEST_SKIP() << "no photographs in " << testframes::photo_dir();
  run({testframes::photo_mosaic(1920, 1080, 3)}, 1920, 1080, 24);
  run({testframes::photo_mosaic(1920, 1080, 4)}, 1920, 1080, 32, {.keep_alpha = 1});
}

TEST_P(RoundTrip, SequencesWithNullFrames) {
  const Bytes a = testframes::screen(24, 10, 3, 1);
  Bytes b = a;
  b.back() ^= 1;
  const Bytes grey = testframes::solid(24, 10, {128, 128, 128});
  const Bytes flat = testframes::solid(24, 10, {1, 2, 3});
  run({grey, a, a, a, b, b, flat, flat, grey, grey, a}, 24, 10, 24, {.skip_unchanged = 1});

  const Bytes a32 = testframes::screen(24, 10, 4, 2);
  Bytes b32 = a32;
  b32[3] ^= 1;  // the fourth byte alone
  const Bytes grey32 = testframes::solid(24, 10, {128, 128, 128, 128});
  run({grey32, a32, a32, b32, b32, grey32}, 24, 10, 32, {.skip_unchanged = 1, .keep_alpha = 1});
  run({grey32, a32, a32, b32, b32}, 24, 10, 32, {.skip_unchanged = 1});
}

INSTANTIATE_TEST_SUITE_P(Levels, RoundTrip, testing::ValuesIn(planeruns::all_levels()), planeruns::level_name);

TEST(FrameDecoder, UltraHdRoundTrip) {
  const Bytes frame =
      testframes::photos_available() ? testframes::photo_mosaic(4096, 2160, 3) : testframes::screen(4096, 2160, 3, 4);
  Encoder encoder(4096, 2160, 24);
  FrameDecoder decoder;
  ASSERT_EQ(decoder.Begin(4096, 2160, 24), ICERR_OK);
  ASSERT_EQ(decoder.Decode(encoder.encode(frame).bytes), ICERR_OK);
  EXPECT_TRUE(current(decoder) == frame);
}

TEST(FrameDecoder, StartsFromMidGrey) {
  FrameDecoder decoder;
  EXPECT_EQ(decoder.Decode({}), ICERR_ERROR);
  ASSERT_EQ(decoder.Begin(3, 2, 24), ICERR_OK);
  EXPECT_EQ(decoder.Decode({}), ICERR_OK);
  EXPECT_EQ(current(decoder), Bytes(18, 128));
  EXPECT_EQ(decoder.pixel_size(), 3);
  ASSERT_EQ(decoder.Begin(3, 2, 32), ICERR_OK);
  EXPECT_EQ(current(decoder), Bytes(24, 128));
  EXPECT_EQ(decoder.pixel_size(), 4);
  ASSERT_EQ(decoder.Begin(0, 0, 24), ICERR_OK);
  EXPECT_TRUE(decoder.frame().empty());
  for (auto [w, h, depth] : {std::tuple{4, 4, 16}, {-1, 4, 24}, {65536, 65536, 24}}) {
    EXPECT_EQ(decoder.Begin(w, h, depth), ICERR_BADFORMAT);
    EXPECT_EQ(decoder.Decode(Bytes{FRAME_GREY, 1}), ICERR_ERROR);
  }
}

// Index lengths round frames up to 4 bytes; the fill behind is ignored.
TEST(FrameDecoder, FillBehindAFrame) {
  FrameDecoder decoder;
  ASSERT_EQ(decoder.Begin(5, 3, 32), ICERR_OK);
  ASSERT_EQ(decoder.Decode(Bytes{FRAME_GREY, 7, 0, 0}), ICERR_OK);
  EXPECT_EQ(current(decoder), Bytes(45, 7));
  ASSERT_EQ(decoder.Decode(Bytes{FRAME_FLAT32, 1, 2, 3, 4, 0, 0, 0}), ICERR_OK);
  EXPECT_EQ(current(decoder), testframes::solid(5, 3, {1, 2, 3, 4}));
  ASSERT_EQ(decoder.Decode(Bytes{FRAME_FLAT24, 1, 2, 3, 0}), ICERR_OK);
  EXPECT_EQ(current(decoder), testframes::solid(5, 3, {1, 2, 3}));

  const Bytes frame = testframes::noise(5, 3, 3, 3);
  const Bytes coded = codecruns::encode_one(frame, 5, 3, 24).bytes;
  for (std::size_t fill = 1; fill <= 3; ++fill) {
    Bytes padded = coded;
    padded.resize(coded.size() + fill, 0);
    ASSERT_EQ(decoder.Decode(padded), ICERR_OK);
    EXPECT_EQ(current(decoder), frame);
  }
}

class DamagedFrames : public testing::Test {
 protected:
  static constexpr int kW = 20, kH = 6;

  void SetUp() override {
    frame24_ = testframes::screen(kW, kH, 3, 9);
    frame24_[7] ^= 0x55;  // some detail, so that no plane is trivial
    coded24_ = codecruns::encode_one(frame24_, kW, kH, 24).bytes;
    frame32_ = testframes::noise(kW, kH, 4, 9);
    coded32_ = codecruns::encode_one(frame32_, kW, kH, 32, {.keep_alpha = 1}).bytes;
    ASSERT_EQ(coded24_[0], FRAME_FULL24);
    ASSERT_EQ(coded32_[0], FRAME_FULL32);
  }

  // Decodes a damaged frame into a decoder holding a known frame; a failure
  // must leave that frame in place.
  int decode(const Bytes& bytes, int depth = 24, Bytes* decoded = nullptr) {
    FrameDecoder decoder;
    EXPECT_EQ(decoder.Begin(kW, kH, depth), ICERR_OK);
    EXPECT_EQ(decoder.Decode(Bytes{FRAME_GREY, 42}), ICERR_OK);
    const int status = decoder.Decode(bytes);
    if (status != ICERR_OK) {
      EXPECT_EQ(current(decoder), Bytes(3 * kW * kH, 42));
    }
    EXPECT_NE(std::string(decode_status_message(status)), "unknown status");
    if (decoded != nullptr) *decoded = current(decoder);
    return status;
  }

  Bytes frame24_, frame32_, coded24_, coded32_;
};

TEST_F(DamagedFrames, EveryTypeByte) {
  for (int type = 0; type < 256; ++type) {
    for (int depth : {24, 32}) {
      Bytes bytes = depth == 24 ? coded24_ : coded32_;
      bytes[0] = static_cast<unsigned char>(type);
      const int status = decode(bytes, depth);
      const bool known = type == 4 || type == 5 || type == 6 || type == 8 || type == 9;
      if (!known) {
        EXPECT_EQ(status, ICERR_UNKNOWNTYPE) << type;
      } else if (depth == 24 && type >= 8) {
        EXPECT_EQ(status, ICERR_WRONGDEPTH) << type;
      } else if (type == 5 || type == 6 || type == 9) {
        EXPECT_EQ(status, ICERR_OK) << type;  // one colour, taken from the next bytes
      } else if ((type == 4 && depth == 24) || (type == 8 && depth == 32)) {
        EXPECT_EQ(status, ICERR_OK) << type;
      }
    }
  }
}

// A cut frame is rejected, except where the range decoder had no need of
// the last bytes of the last plane: then it is the whole frame.
TEST_F(DamagedFrames, TruncatedAtEveryLength) {
  for (int depth : {24, 32}) {
    const Bytes& coded = depth == 24 ? coded24_ : coded32_;
    const Bytes& frame = depth == 24 ? frame24_ : frame32_;
    int accepted = 0;
    for (std::size_t length = 1; length < coded.size(); ++length) {
      const Bytes cut(coded.begin(), coded.begin() + static_cast<long>(length));
      Bytes decoded;
      if (decode(cut, depth, &decoded) == ICERR_OK) {
        EXPECT_EQ(decoded, frame) << depth << "-bit frame cut to " << length;
        EXPECT_GE(length, coded.size() - 4);
        ++accepted;
      }
    }
    EXPECT_LE(accepted, 3);
  }
  for (const Bytes& cut : {Bytes{FRAME_GREY}, Bytes{FRAME_FLAT24, 1, 2}, Bytes{FRAME_FLAT32, 1, 2, 3}}) {
    EXPECT_EQ(decode(cut, 32), ICERR_TRUNCATED);
  }
}

TEST_F(DamagedFrames, PlaneOffsets) {
  const std::uint32_t o1 = load_le32(&coded24_[1]);
  const std::uint32_t o2 = load_le32(&coded24_[5]);
  const auto size = static_cast<std::uint32_t>(coded24_.size());
  const std::pair<std::uint32_t, std::uint32_t> bad[] = {
      {o2, o1},          {0, o2},          {8, o2}, {9, o2}, {o1, o1}, {o1, size}, {o1, size + 1}, {size + 1, size + 2},
      {0xFFFFFFFFu, o2}, {o1, 0xFFFFFFF0u}};
  for (const auto& [a, b] : bad) {
    Bytes bytes = coded24_;
    store_le32(&bytes[1], a);
    store_le32(&bytes[5], b);
    EXPECT_EQ(decode(bytes), ICERR_BADOFFSETS) << a << ", " << b;
  }
  // Offsets inside the frame that do not fall on the planes.
  for (std::uint32_t a : {o1 - 1, o1 + 1}) {
    Bytes bytes = coded24_;
    store_le32(&bytes[1], a);
    EXPECT_EQ(decode(bytes), ICERR_BADPLANE) << a;
  }
}

// Every byte of the planes' headers and tables changed in turn: a rejection
// or some frame, never an access outside the buffers (the sanitizer build
// checks that).
TEST_F(DamagedFrames, CorruptedPlanes) {
  const std::uint32_t offsets[] = {9, load_le32(&coded24_[1]), load_le32(&coded24_[5])};
  int rejected = 0, total = 0;
  for (std::uint32_t start : offsets) {
    for (std::uint32_t i = start; i < start + 24 && i < coded24_.size(); ++i) {
      for (unsigned char flip : {0x01, 0x10, 0x80, 0xFF}) {
        Bytes bytes = coded24_;
        bytes[i] ^= flip;
        rejected += decode(bytes) != ICERR_OK;
        ++total;
      }
    }
  }
  EXPECT_GT(rejected, total / 2);

  // Methods above 3, and run-length forms that are empty or longer than the plane.
  for (const Bytes& head : {Bytes{4}, Bytes{0xFF}, Bytes{1, 0, 0, 0, 0}, Bytes{2, 0xFF, 0xFF, 0, 0}}) {
    Bytes bytes = coded24_;
    std::copy(head.begin(), head.end(), bytes.begin() + 9);
    EXPECT_EQ(decode(bytes), ICERR_BADPLANE);
  }
}

TEST(FrameDecoderDeathTest, BeginWithoutMemoryFailsCleanly) {
#ifdef QUELMUX_TEST_ASAN
  GTEST_SKIP() << "the sanitizer's allocator does not allow an address-space limit";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto begin = [] {
    const rlimit limit{std::size_t{512} << 20, std::size_t{512} << 20};
    setrlimit(RLIMIT_AS, &limit);
    FrameDecoder decoder;
    const bool refused = decoder.Begin(16384, 16384, 24) == ICERR_MEMORY && decoder.frame().empty() &&
                         decoder.Decode(Bytes{FRAME_GREY, 1}) == ICERR_ERROR;
    std::exit(refused ? 0 : 1);
  };
  EXPECT_EXIT(begin(), ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace

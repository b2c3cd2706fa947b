// Whole frames: the encoder's bytes, round trips through the decoder at every
// instruction-set level, and damaged frames.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "codec/codec_inst.h"
#include "codec/frame_decoder.h"
#include "codec/frame_format.h"
#include "entropy/byte_order.h"
#include "frames.h"
#include "reference.h"
#include "simd_levels.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Settings {
  int skip_unchanged = 0;
  int keep_alpha = 0;
  PredictionSimd simd = best_prediction_simd();
};

// One encoder over a sequence of frames; the output buffer has the codec's
// own bound and guard bytes behind it.
struct Encoder {
  CodecInst codec;
  std::uint32_t flags = 0;

  Encoder(int width, int height, int bit_depth, Settings s = {}) {
    codec.skip_unchanged = s.skip_unchanged;
    codec.keep_alpha = s.keep_alpha;
    codec.simd = s.simd;
    EXPECT_EQ(codec.CompressBegin(width, height, bit_depth), ICERR_OK);
  }
  Bytes encode(const Bytes& frame) {
    const std::size_t max = max_frame_size(codec.width, codec.height, codec.bit_depth);
    const Bytes in = frame;
    Bytes out(max + 64, 0xA5);
    ICCOMPRESS record{0xDEAD, 0xBEEF, out.data(), in.data()};
    EXPECT_EQ(codec.CompressContinue(&record, 0), ICERR_OK);
    EXPECT_EQ(in, frame) << "input changed";
    EXPECT_LE(record.dwCompressedSize, max);
    EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(max), out.end()), Bytes(64, 0xA5));
    flags = record.dwFlags;
    out.resize(record.dwCompressedSize);
    return out;
  }
};

Bytes encode_one(const Bytes& frame, int width, int height, int bit_depth, Settings s = {}) {
  return Encoder(width, height, bit_depth, s).encode(frame);
}

// A full frame the long way: the rules' residuals split into planes, each
// compacted by a coder of its own, the offsets added up from the reported
// lengths.
Bytes full_frame_by_planes(const Bytes& frame, int width, int height, int pixel_size) {
  Bytes out{pixel_size == 3 ? FRAME_FULL24 : FRAME_FULL32};
  Bytes streams;
  for (const Bytes& plane : reference::split(reference::residuals(frame, width, height, pixel_size), pixel_size)) {
    Compress coder;
    coder.InitCompressBuffers(static_cast<std::uint32_t>(plane.size()));
    Bytes stream(compact_bound(plane.size()));
    stream.resize(coder.compact(plane.data(), stream.data(), static_cast<std::uint32_t>(plane.size())));
    streams.insert(streams.end(), stream.begin(), stream.end());
    if (out.size() == 1 + 4 * static_cast<std::size_t>(pixel_size - 1)) continue;
    out.resize(out.size() + 4);
    store_le32(&out[out.size() - 4], static_cast<std::uint32_t>(1 + 4 * (pixel_size - 1) + streams.size()));
  }
  out.insert(out.end(), streams.begin(), streams.end());
  return out;
}

Bytes drop_alpha(const Bytes& frame) {
  Bytes out;
  for (std::size_t i = 0; i < frame.size(); i += 4) out.insert(out.end(), &frame[i], &frame[i] + 3);
  return out;
}

// One-colour frames (exactly 8 pixels leaves the shifted comparison nothing
// to cover; fewer are compared one by one: a difference in any byte makes a
// full frame) and empty ones (an empty plane compacts to 00 E3 00 00 00 00
// 00 and the byte behind).
TEST(CodecInst, OneColourAndEmptyFrames) {
  const Settings alpha{.keep_alpha = 1};
  Encoder grey(5, 4, 24);
  EXPECT_EQ(grey.encode(testframes::solid(5, 4, {77, 77, 77})), (Bytes{FRAME_GREY, 77}));
  EXPECT_EQ(grey.flags, 0x10u);
  EXPECT_EQ(encode_one(testframes::solid(9, 2, {6, 6, 6, 200}), 9, 2, 32), (Bytes{FRAME_GREY, 6}));
  EXPECT_EQ(encode_one(testframes::solid(7, 3, {5, 5, 5, 5}), 7, 3, 32, alpha), (Bytes{FRAME_FLAT32, 5, 5, 5, 5}));
  for (int n = 1; n <= 9; ++n) {
    for (int ps : {3, 4}) {
      const Bytes same = testframes::solid(n, 1, ps == 3 ? Bytes{9, 8, 7} : Bytes{9, 8, 7, 6});
      const Bytes flat = ps == 3 ? Bytes{FRAME_FLAT24, 9, 8, 7} : Bytes{FRAME_FLAT32, 9, 8, 7, 6};
      EXPECT_EQ(encode_one(same, n, 1, 8 * ps, alpha), flat) << n;
      EXPECT_EQ(encode_one(same, 1, n, 8 * ps, alpha), flat) << n;
      for (std::size_t i = static_cast<std::size_t>(ps); i < same.size(); ++i) {
        Bytes other = same;
        other[i] ^= 0x40;
        EXPECT_EQ(encode_one(other, n, 1, 8 * ps, alpha), full_frame_by_planes(other, n, 1, ps)) << n << " " << i;
      }
    }
  }
  const Bytes empty_plane{0x00, 0xE3, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  Bytes want{FRAME_FULL24, 17, 0, 0, 0, 25, 0, 0, 0}, want32{FRAME_FULL32, 21, 0, 0, 0, 29, 0, 0, 0, 37, 0, 0, 0};
  for (int k = 0; k < 3; ++k) want.insert(want.end(), empty_plane.begin(), empty_plane.end());
  for (int k = 0; k < 4; ++k) want32.insert(want32.end(), empty_plane.begin(), empty_plane.end());
  for (auto [w, h] : {std::pair{0, 0}, {0, 5}, {7, 0}}) EXPECT_EQ(encode_one({}, w, h, 24), want);
  EXPECT_EQ(encode_one({}, 0, 3, 32, alpha), want32);
}

// The frame's offsets add up the lengths compact() reports, byte behind
// included (written as 0); the fused prediction gives the rules' residuals.
// Without alpha a 32-bit frame is coded as its 3-byte pixels. Noise fits the
// bound at every size class of the coder.
TEST(CodecInst, FullFramesMatchPlaneByPlaneCoding) {
  const std::pair<int, int> sizes[] = {{33, 7}, {200, 60}, {1, 50}, {50, 1}, {1024, 600}};
  for (const auto& [w, h] : sizes) {
    for (PredictionSimd level : {PredictionSimd::Scalar, best_prediction_simd()}) {
      for (int ps : {3, 4}) {
        const Settings s{.keep_alpha = ps == 4, .simd = level};
        const Bytes detail = w < 100 ? testframes::gradient(w, h, ps) : testframes::screen(w, h, ps, 3);
        for (const Bytes& frame : {detail, testframes::noise(w, h, ps, 2)}) {
          EXPECT_EQ(encode_one(frame, w, h, 8 * ps, s), full_frame_by_planes(frame, w, h, ps)) << w << "x" << h;
        }
      }
      const Bytes frame = testframes::noise(w, h, 4, 5);
      EXPECT_EQ(encode_one(frame, w, h, 32, {.simd = level}), encode_one(drop_alpha(frame), w, h, 24));
    }
  }
  const Bytes photo = testframes::photo_mosaic(640, 360, 3);
  EXPECT_TRUE(photo.empty() || encode_one(photo, 640, 360, 24) == full_frame_by_planes(photo, 640, 360, 3));
}

// A frame equal to the previous one (at first 128 in every byte, all four
// bytes compared) is a null frame, when asked for, even when turned on
// between frames.
TEST(CodecInst, SkipUnchanged) {
  const Bytes a = testframes::gradient(16, 9, 3), grey = testframes::solid(16, 9, {3, 3, 3});
  Bytes b = a;
  b.back() ^= 1;
  Encoder skip(16, 9, 24, {.skip_unchanged = 1});
  EXPECT_EQ(skip.encode(testframes::solid(16, 9, {128, 128, 128})), Bytes{});
  EXPECT_EQ(skip.flags, 0u);
  for (const Bytes& frame : {a, b, grey}) {
    EXPECT_EQ(skip.encode(frame), encode_one(frame, 16, 9, 24));
    EXPECT_EQ(skip.encode(frame), Bytes{});
  }
  Encoder later(16, 9, 24);
  EXPECT_EQ(later.encode(a), later.encode(a));
  later.codec.skip_unchanged = 1;
  EXPECT_EQ(later.encode(a)[0], FRAME_FULL24);
  EXPECT_EQ(later.encode(a), Bytes{});
  for (Settings s : {Settings{.skip_unchanged = 1}, Settings{.skip_unchanged = 1, .keep_alpha = 1}}) {
    Encoder skip32(12, 5, 32, s);
    Bytes frame = testframes::gradient(12, 5, 4);
    EXPECT_EQ(skip32.encode(frame)[0], s.keep_alpha ? FRAME_FULL32 : FRAME_FULL24);
    frame[3] ^= 0xFF;
    for (const Bytes& f : {frame, testframes::solid(12, 5, {6, 6, 6, 200}), testframes::solid(12, 5, {6, 6, 6, 6})}) {
      EXPECT_EQ(skip32.encode(f), encode_one(f, 12, 5, 32, {.keep_alpha = s.keep_alpha}));
      EXPECT_EQ(skip32.encode(f), Bytes{});
    }
  }
}

TEST(CodecInst, RefusesWhatItCannotTake) {
  for (auto [w, h, depth] : {std::tuple{10, 10, 16},
                             {10, 10, 8},
                             {-1, 10, 24},
                             {10, -1, 24},
                             {65536, 65536, 24},
                             {1, 1 << 30, 24},
                             {40000, 30000, 32}}) {
    CodecInst codec;
    EXPECT_EQ(codec.CompressBegin(w, h, depth), ICERR_BADFORMAT) << w << "x" << h << "x" << depth;
    unsigned char out[16];
    const unsigned char in[3] = {};
    ICCOMPRESS record{0, 0, out, in};
    EXPECT_EQ(codec.CompressContinue(&record, 0), ICERR_ERROR);
    EXPECT_EQ(record.dwCompressedSize, 0u);
    FrameDecoder decoder;
    EXPECT_EQ(decoder.Begin(w, h, depth), ICERR_BADFORMAT);
    EXPECT_EQ(decoder.Decode(Bytes{FRAME_GREY, 1}), ICERR_ERROR);
  }
  EXPECT_EQ(max_frame_size(10, 10, 16) + max_frame_size(65536, 65536, 24), 0u);
  FrameDecoder fresh;
  EXPECT_EQ(fresh.Decode({}), ICERR_ERROR);
  CodecInst codec;
  codec.wide_buffers = 1;
  ASSERT_EQ(codec.CompressBegin(10, 3, 24), ICERR_OK);
  EXPECT_EQ(codec.frame_bytes, 90u);
  for (int i = 0; i < 10 * 3 * 4 + 2048; ++i) ASSERT_EQ(codec.prev_frame[static_cast<std::size_t>(i)], 128);
  EXPECT_EQ(codec.CompressEnd(), 0);
  EXPECT_EQ(codec.CompressEnd(), 0);
  EXPECT_TRUE(codec.residuals == nullptr && codec.prev_frame == nullptr && codec.coder.cum == nullptr);
}

// Buffers of about 800 MB each in a child process limited to 512 MiB of
// address space (which the sanitizers' allocator does not allow).
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define __SANITIZE_ADDRESS__ 1
#endif
#endif
TEST(CodecDeathTest, BeginWithoutMemoryFailsCleanly) {
#ifndef __SANITIZE_ADDRESS__
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto begin = [] {
    const rlimit limit{std::size_t{512} << 20, std::size_t{512} << 20};
    setrlimit(RLIMIT_AS, &limit);
    CodecInst codec;
    FrameDecoder decoder;
    const bool refused = codec.CompressBegin(16384, 16384, 24) == ICERR_MEMORY && codec.residuals == nullptr &&
                         codec.prev_frame == nullptr && codec.work == nullptr && codec.coder.rle_buffer == nullptr &&
                         decoder.Begin(16384, 16384, 24) == ICERR_MEMORY && decoder.frame().empty() &&
                         decoder.Decode(Bytes{FRAME_GREY, 1}) == ICERR_ERROR;
    std::exit(refused ? 0 : 1);
  };
  EXPECT_EXIT(begin(), ::testing::ExitedWithCode(0), "");
#endif
}

Bytes current(const FrameDecoder& d) { return Bytes(d.frame().begin(), d.frame().end()); }

// Encoder and decoder at the same instruction-set level.
class RoundTrip : public testing::TestWithParam<PredictionSimd> {
 protected:
  void SetUp() override {
    if (!prediction_simd_supported(GetParam())) GTEST_SKIP() << "not on this CPU";
  }

  // Encodes and decodes the frames in order; each must come back as given
  // (as 3-byte pixels when a 32-bit stream drops the fourth byte), a null
  // frame keeping what the decoder holds.
  void run(const std::vector<Bytes>& frames, int w, int h, int depth, Settings s = {}) {
    s.simd = GetParam();
    Encoder encoder(w, h, depth, s);
    FrameDecoder decoder;
    decoder.simd = GetParam();
    ASSERT_EQ(decoder.Begin(w, h, depth), ICERR_OK);
    const bool alpha = depth == 32 && s.keep_alpha != 0;
    Bytes want = current(decoder);
    EXPECT_EQ(want, Bytes(want.size(), 128));
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const Bytes coded = encoder.encode(frames[i]);
      ASSERT_EQ(decoder.Decode(coded), ICERR_OK) << w << "x" << h << " frame " << i;
      if (!coded.empty()) want = depth == 32 && !alpha ? drop_alpha(frames[i]) : frames[i];
      EXPECT_TRUE(coded.empty() || decoder.pixel_size() == (alpha ? 4 : 3));
      ASSERT_TRUE(current(decoder) == want) << w << "x" << h << "x" << depth << " frame " << i;
    }
  }
};

TEST_P(RoundTrip, SizesContentsAndNullFrames) {
  const std::pair<int, int> sizes[] = {{0, 4},  {4, 0},   {1, 1},   {1, 13},  {13, 1},  {7, 1},
                                       {1, 7},  {8, 1},   {2, 4},   {3, 3},   {5, 7},   {33, 5},
                                       {65, 9}, {127, 3}, {1, 300}, {300, 1}, {97, 41}, {161, 100}};
  std::uint32_t seed = 1;
  for (const auto& [w, h] : sizes) {
    for (int ps : {3, 4}) {
      const Bytes a = testframes::screen(w, h, ps, seed++);
      Bytes b = a;
      if (!b.empty()) b.back() ^= 1;
      const Bytes grey = testframes::solid(w, h, Bytes(static_cast<std::size_t>(ps), 128));
      const Bytes flat = testframes::solid(w, h, ps == 3 ? Bytes{9, 200, 31} : Bytes{9, 200, 31, 4});
      const std::vector<Bytes> frames = {
          grey, testframes::noise(w, h, ps, seed++), testframes::gradient(w, h, ps), a, a, b, b, flat, flat, a};
      for (int skip : {0, 1}) {
        if (ps == 3) run(frames, w, h, 24, {.skip_unchanged = skip});
        if (ps == 4) run(frames, w, h, 32, {.skip_unchanged = skip, .keep_alpha = 1});
        if (ps == 4) run(frames, w, h, 32, {.skip_unchanged = skip});
        if (HasFatalFailure()) return;
      }
    }
  }
  const Bytes photo = testframes::photo_mosaic(1920, 1080, 4);
  if (!photo.empty()) run({photo}, 1920, 1080, 32, {.keep_alpha = 1});
  if (!photo.empty()) run({drop_alpha(photo)}, 1920, 1080, 24);
}

INSTANTIATE_TEST_SUITE_P(Levels, RoundTrip,
                         testing::Values(PredictionSimd::Scalar, PredictionSimd::Sse2, PredictionSimd::Ssse3,
                                         PredictionSimd::Avx2),
                         [](const auto& info) { return std::string(prediction_simd_name(info.param)); });

TEST(FrameDecoder, UltraHdAndFillBehindAFrame) {
  const Bytes frame =
      testframes::photos_available() ? testframes::photo_mosaic(4096, 2160, 3) : testframes::screen(4096, 2160, 3, 4);
  FrameDecoder decoder;
  ASSERT_EQ(decoder.Begin(4096, 2160, 24), ICERR_OK);
  ASSERT_EQ(decoder.Decode(encode_one(frame, 4096, 2160, 24)), ICERR_OK);
  EXPECT_TRUE(current(decoder) == frame);
  // Index lengths round frames up to 4 bytes; the fill behind is ignored.
  ASSERT_EQ(decoder.Begin(5, 3, 32), ICERR_OK);
  ASSERT_EQ(decoder.Decode(Bytes{FRAME_GREY, 7, 0, 0}), ICERR_OK);
  EXPECT_EQ(current(decoder), Bytes(45, 7));
  ASSERT_EQ(decoder.Decode(Bytes{FRAME_FLAT32, 1, 2, 3, 4, 0, 0, 0}), ICERR_OK);
  EXPECT_EQ(current(decoder), testframes::solid(5, 3, {1, 2, 3, 4}));
  ASSERT_EQ(decoder.Decode(Bytes{FRAME_FLAT24, 1, 2, 3, 0}), ICERR_OK);
  EXPECT_EQ(current(decoder), testframes::solid(5, 3, {1, 2, 3}));
  const Bytes noise = testframes::noise(5, 3, 4, 3);
  for (std::size_t fill = 1; fill <= 3; ++fill) {
    Bytes padded = encode_one(noise, 5, 3, 32, {.keep_alpha = 1});
    padded.resize(padded.size() + fill, 0);
    ASSERT_EQ(decoder.Decode(padded), ICERR_OK);
    EXPECT_EQ(current(decoder), noise);
  }
}

class DamagedFrames : public testing::Test {
 protected:
  static constexpr int kW = 20, kH = 6;

  void SetUp() override {
    frame24_[7] ^= 0x55;  // some detail, so that no plane is trivial
    coded24_ = encode_one(frame24_, kW, kH, 24);
    coded32_ = encode_one(frame32_, kW, kH, 32, {.keep_alpha = 1});
  }

  // Decodes a damaged frame into a decoder holding a known frame; a failure
  // must leave that frame in place.
  int decode(const Bytes& bytes, int depth = 24, Bytes* decoded = nullptr) {
    FrameDecoder decoder;
    EXPECT_EQ(decoder.Begin(kW, kH, depth), ICERR_OK);
    EXPECT_EQ(decoder.Decode(Bytes{FRAME_GREY, 42}), ICERR_OK);
    const int status = decoder.Decode(bytes);
    EXPECT_TRUE(status == ICERR_OK || current(decoder) == Bytes(3 * kW * kH, 42));
    EXPECT_NE(std::string(decode_status_message(status)), "unknown status");
    if (decoded != nullptr) *decoded = current(decoder);
    return status;
  }

  Bytes frame24_ = testframes::screen(kW, kH, 3, 9), frame32_ = testframes::noise(kW, kH, 4, 9), coded24_, coded32_;
};

// Every type byte; a cut frame is rejected, except where the range decoder
// had no need of the last bytes of the last plane: then it is the whole
// frame.
TEST_F(DamagedFrames, TypesAndTruncations) {
  for (int type = 0; type < 256; ++type) {
    for (int depth : {24, 32}) {
      Bytes bytes = depth == 24 ? coded24_ : coded32_;
      bytes[0] = static_cast<unsigned char>(type);
      const int status = decode(bytes, depth);
      if (type != 4 && type != 5 && type != 6 && type != 8 && type != 9) {
        EXPECT_EQ(status, ICERR_UNKNOWNTYPE) << type;
      } else if (depth == 24 && type >= 8) {
        EXPECT_EQ(status, ICERR_WRONGDEPTH) << type;
      } else if (type != 4 || depth == 24) {
        EXPECT_EQ(status, ICERR_OK) << type;  // one-colour types take their colour from the next bytes
      }
    }
  }
  for (int depth : {24, 32}) {
    const Bytes& coded = depth == 24 ? coded24_ : coded32_;
    int accepted = 0;
    for (std::size_t length = 1; length < coded.size(); ++length) {
      Bytes decoded;
      if (decode(Bytes(coded.begin(), coded.begin() + static_cast<long>(length)), depth, &decoded) == ICERR_OK) {
        EXPECT_EQ(decoded, depth == 24 ? frame24_ : frame32_) << depth << "-bit frame cut to " << length;
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

// Offsets out of order or outside the frame, or not on the planes; every
// byte of the planes' headers and tables changed in turn (a rejection or
// some frame, never an access outside the buffers: the sanitizer build
// checks that); methods above 3 and run-length forms that are empty or
// longer than the plane.
TEST_F(DamagedFrames, OffsetsAndPlanes) {
  const std::uint32_t o1 = load_le32(&coded24_[1]), o2 = load_le32(&coded24_[5]);
  const auto size = static_cast<std::uint32_t>(coded24_.size());
  const std::pair<std::uint32_t, std::uint32_t> bad[] = {
      {o2, o1},          {0, o2},           {8, o2},        {9, o2},
      {o1, o1},          {o1, size},        {o1, size + 1}, {size + 1, size + 2},
      {0xFFFFFFFFu, o2}, {o1, 0xFFFFFFF0u}, {o1 - 1, o2},   {o1 + 1, o2}};
  for (const auto& [a, b] : bad) {
    Bytes bytes = coded24_;
    store_le32(&bytes[1], a);
    store_le32(&bytes[5], b);
    EXPECT_EQ(decode(bytes), a == o1 - 1 || a == o1 + 1 ? ICERR_BADPLANE : ICERR_BADOFFSETS) << a << ", " << b;
  }
  int rejected = 0, total = 0;
  for (std::uint32_t start : {9u, o1, o2}) {
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
  for (const Bytes& head : {Bytes{4}, Bytes{0xFF}, Bytes{1, 0, 0, 0, 0}, Bytes{2, 0xFF, 0xFF, 0, 0}}) {
    Bytes bytes = coded24_;
    std::copy(head.begin(), head.end(), bytes.begin() + 9);
    EXPECT_EQ(decode(bytes), ICERR_BADPLANE);
  }
}

}  // namespace

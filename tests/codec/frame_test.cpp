// Whole frames: the encoder's bytes against a model written from the rules,
// round trips through the decoder at every instruction-set level, and damaged
// frames.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "codec/codec_inst.h"
#include "codec/frame_decoder.h"
#include "codec/frame_format.h"
#include "codec/prediction.h"
#include "entropy/byte_order.h"
#include "frames.h"
#include "simd_levels.h"

namespace {

using Bytes = std::vector<unsigned char>;

int middle(int x, int y, int z) { return std::max(std::min(x, y), std::min(std::max(x, y), z)); }

// The prediction's residuals the long way, one byte at a time, pixel-
// interleaved: colour decorrelated, then from the left, from above, or the
// median of left, above and left + above - above-left.
Bytes residuals(Bytes in, int width, int height, int pixel_size) {
  const long long ps = pixel_size, row = ps * width, total = row * height;
  for (long long i = 0; i < total; i += ps) {
    in[i] = static_cast<unsigned char>(in[i] - in[i + 1]);
    in[i + 2] = static_cast<unsigned char>(in[i + 2] - in[i + 1]);
  }
  Bytes out(static_cast<std::size_t>(total));
  for (long long i = 0; i < total; ++i) {
    const int l = i >= ps ? in[i - ps] : 0, a = i >= row ? in[i - row] : 0, d = i >= row + ps ? in[i - row - ps] : 0;
    out[i] = static_cast<unsigned char>(in[i] - (i < row ? l : i < row + ps ? a : middle(l, a, l + a - d)));
  }
  return out;
}

struct Settings {
  int skip_unchanged = 0;
  int keep_alpha = 0;
  PredictionSimd simd = best_prediction_simd();
};

// One encoder over a sequence of frames; the output buffer has the codec's
// own bound and guard bytes behind it.
struct Encoder {
  CodecInst codec;

  Encoder(int width, int height, int bit_depth, Settings s = {}) {
    std::tie(codec.skip_unchanged, codec.keep_alpha, codec.simd) = std::tie(s.skip_unchanged, s.keep_alpha, s.simd);
    EXPECT_EQ(codec.CompressBegin(width, height, bit_depth), ICERR_OK);
  }
  Bytes encode(const Bytes& frame) {
    const std::size_t max = max_frame_size(codec.width, codec.height, codec.bit_depth);
    const Bytes in = frame;
    Bytes out(max + 64, 0xA5);
    ICCOMPRESS record{0xDEAD, 0xBEEF, out.data(), in.data()};
    EXPECT_EQ(codec.CompressContinue(&record, 0), ICERR_OK);
    EXPECT_TRUE(in == frame && record.dwCompressedSize <= max) << "input changed or bound exceeded";
    EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(max), out.end()), Bytes(64, 0xA5));
    EXPECT_EQ(record.dwFlags, record.dwCompressedSize == 0 ? 0u : 0x10u);  // key frames, null frames not
    out.resize(record.dwCompressedSize);
    return out;
  }
};

Bytes encode_one(const Bytes& frame, int width, int height, int bit_depth, Settings s = {}) {
  return Encoder(width, height, bit_depth, s).encode(frame);
}

Bytes drop_alpha(const Bytes& frame) {
  Bytes out;
  for (std::size_t i = 0; i < frame.size(); i += 4) out.insert(out.end(), &frame[i], &frame[i] + 3);
  return out;
}

// A frame as the rules code it (without alpha, a 32-bit frame is its 3-byte
// pixels): grey when every byte is one value, flat when every pixel is, else
// the residuals split into planes, each compacted by a coder of its own, the
// offsets adding up the reported lengths. The interleaved forms of the
// library must give the same residuals.
Bytes model(const Bytes& given, int width, int height, int bit_depth, bool alpha) {
  const Bytes frame = bit_depth == 32 && !alpha ? drop_alpha(given) : given;
  const std::size_t ps = alpha ? 4 : 3, header = 1 + 4 * (ps - 1);
  bool one = !frame.empty();
  for (std::size_t i = ps; one && i < frame.size(); ++i) one = frame[i] == frame[i % ps];
  if (one && ps == 3 && frame[0] == frame[1] && frame[0] == frame[2]) return {FRAME_GREY, frame[0]};
  Bytes out{one ? (ps == 3 ? FRAME_FLAT24 : FRAME_FLAT32) : (ps == 3 ? FRAME_FULL24 : FRAME_FULL32)}, streams;
  if (one) return out.insert(out.end(), frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(ps)), out;
  const Bytes r = residuals(frame, width, height, static_cast<int>(ps));
  Bytes in = frame, interleaved(frame.size());
  (ps == 3 ? DeEntropy : DeEntropy32)(in.data(), interleaved.data(), width, height);
  EXPECT_EQ(interleaved, r);
  for (std::size_t k = 0; k < ps; ++k) {
    Bytes plane, stream(compact_bound(r.size() / ps));
    for (std::size_t i = k; i < r.size(); i += ps) plane.push_back(r[i]);
    Compress coder;
    coder.InitCompressBuffers(static_cast<std::uint32_t>(plane.size() + 1));
    stream.resize(coder.compact(plane.data(), stream.data(), static_cast<std::uint32_t>(plane.size())));
    streams.insert(streams.end(), stream.begin(), stream.end());
    if (out.size() == header) continue;
    out.resize(out.size() + 4);
    store_le32(&out[out.size() - 4], static_cast<std::uint32_t>(header + streams.size()));
  }
  out.insert(out.end(), streams.begin(), streams.end());
  return out;
}

// Worked examples, and one-colour frames of up to 9 pixels with each byte
// changed in turn (exactly 8 pixels leave the shifted comparison nothing to
// cover; fewer are compared one by one): any difference makes a full frame.
// Empty frames are full frames of empty planes (00 E3 00 00 00 00 00 and the
// byte behind).
TEST(CodecInst, OneColourAndEmptyFrames) {
  EXPECT_EQ(encode_one(testframes::solid(5, 4, {77, 77, 77}), 5, 4, 24), (Bytes{FRAME_GREY, 77}));
  EXPECT_EQ(encode_one(testframes::solid(9, 2, {6, 6, 6, 200}), 9, 2, 32), (Bytes{FRAME_GREY, 6}));
  EXPECT_EQ(encode_one(testframes::solid(7, 3, {5, 5, 5, 5}), 7, 3, 32, {.keep_alpha = 1}),
            (Bytes{FRAME_FLAT32, 5, 5, 5, 5}));
  EXPECT_EQ(encode_one(testframes::solid(2, 3, {9, 8, 7}), 2, 3, 24), (Bytes{FRAME_FLAT24, 9, 8, 7}));
  for (int run = 0; run < 9 * 3; ++run) {  // 1 to 9 pixels; 24 bits, 32, 32 with alpha
    const int n = 1 + run / 3, depth = run % 3 ? 32 : 24, alpha = run % 3 == 2;
    const Bytes same = testframes::solid(n, 1, depth == 24 ? Bytes{9, 8, 7} : Bytes{9, 8, 7, 6});
    for (std::size_t i = 0; i <= same.size(); ++i) {
      Bytes f = same;
      if (i < f.size()) f[i] ^= 0x40;
      EXPECT_EQ(encode_one(f, n, 1, depth, {.keep_alpha = alpha}), model(f, n, 1, depth, alpha)) << n << " " << i;
      EXPECT_EQ(encode_one(f, 1, n, depth, {.keep_alpha = alpha}), model(f, 1, n, depth, alpha)) << n << " " << i;
    }
  }
  const Bytes empty_plane{0x00, 0xE3, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  Bytes want{FRAME_FULL24, 17, 0, 0, 0, 25, 0, 0, 0}, want32{FRAME_FULL32, 21, 0, 0, 0, 29, 0, 0, 0, 37, 0, 0, 0};
  for (int k = 0; k < 3; ++k) want.insert(want.end(), empty_plane.begin(), empty_plane.end());
  for (int k = 0; k < 4; ++k) want32.insert(want32.end(), empty_plane.begin(), empty_plane.end());
  for (auto [w, h] : {std::pair{0, 0}, {0, 5}, {7, 0}}) EXPECT_EQ(encode_one({}, w, h, 24), want);
  EXPECT_EQ(encode_one({}, 0, 3, 32, {.keep_alpha = 1}), want32);
  EXPECT_EQ(residuals({10, 20, 30, 40, 50, 61}, 2, 1, 3), (Bytes{246, 20, 10, 0, 30, 1}));  // modulo 256
}

// Buffers of about 800 MB each (and a coder's of 4 GB) in a child process
// limited to 512 MiB of address space, which the sanitizers' allocator does
// not allow: refusals, no buffers kept, and frames refused afterwards.
// (Geometries are refused through the library's interface.)
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
    Compress coder;
    unsigned char out[16];
    ICCOMPRESS record{0, 1, out, out};
    const bool refused = codec.CompressBegin(16384, 16384, 24) == ICERR_MEMORY && codec.residuals == nullptr &&
                         codec.CompressContinue(&record, 0) == ICERR_ERROR && record.dwCompressedSize == 0 &&
                         codec.prev_frame == nullptr && codec.work == nullptr && codec.coder.rle_buffer == nullptr &&
                         decoder.Begin(16384, 16384, 24) == ICERR_MEMORY && decoder.frame().empty() &&
                         decoder.Decode(Bytes{FRAME_GREY, 1}) == ICERR_ERROR &&
                         coder.InitCompressBuffers(0xFFFFFFFFu) == 0 && coder.cum == nullptr &&
                         coder.rle_buffer == nullptr;
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

  // Encodes and decodes the frames in order: each is coded as the model
  // says, or as a null frame when asked for and equal to the one before (at
  // first 128 in every byte), and comes back as given (as 3-byte pixels when
  // a 32-bit stream drops the fourth byte).
  void run(const std::vector<Bytes>& frames, int w, int h, int depth, Settings s = {}) {
    s.simd = GetParam();
    Encoder encoder(w, h, depth, s);
    FrameDecoder decoder;
    decoder.simd = GetParam();
    ASSERT_EQ(decoder.Begin(w, h, depth), ICERR_OK);
    const bool alpha = depth == 32 && s.keep_alpha != 0;
    Bytes want = current(decoder), previous(frames[0].size(), 128);
    EXPECT_EQ(want, Bytes(want.size(), 128));
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const std::string where = std::to_string(w) + "x" + std::to_string(h) + "x" + std::to_string(depth) +
                                (alpha ? " alpha" : "") + " frame " + std::to_string(i);
      const Bytes coded = encoder.encode(frames[i]);
      const bool null = s.skip_unchanged != 0 && frames[i] == previous;
      ASSERT_EQ(coded, null ? Bytes{} : model(frames[i], w, h, depth, alpha)) << where;
      previous = frames[i];
      ASSERT_EQ(decoder.Decode(coded), ICERR_OK) << where;
      if (!coded.empty()) want = depth == 32 && !alpha ? drop_alpha(frames[i]) : frames[i];
      ASSERT_TRUE(current(decoder) == want) << where;
    }
  }
};

// Widths around the 16- and 32-pixel blocks of the vector loops, one row,
// one column, 7, 8 and 9 pixels; every content, repeats, grey frames whose
// fourth bytes differ; full HD frames.
TEST_P(RoundTrip, SizesContentsAndNullFrames) {
  const std::pair<int, int> sizes[] = {{0, 4},   {4, 0},   {1, 1},   {1, 13},  {13, 1},  {7, 1},   {1, 7},
                                       {8, 1},   {9, 1},   {2, 4},   {3, 3},   {5, 7},   {15, 2},  {16, 3},
                                       {17, 2},  {31, 2},  {32, 2},  {33, 5},  {63, 4},  {64, 3},  {65, 9},
                                       {127, 3}, {1, 300}, {300, 1}, {511, 2}, {513, 1}, {97, 41}, {161, 100}};
  std::uint32_t seed = 1;
  for (const auto& size : sizes) {
    const int w = size.first, h = size.second;
    for (int ps : {3, 4}) {
      const auto solid = [&](Bytes pixel) { return testframes::solid(w, h, Bytes(pixel.begin(), pixel.begin() + ps)); };
      const Bytes a = testframes::screen(w, h, ps, seed++);
      Bytes b = a;
      if (!b.empty()) b.back() ^= 1;
      const Bytes flat = solid({9, 200, 31, 4}), start = solid({128, 128, 128, 128}), grey = solid({6, 6, 6, 200}),
                  grey_too = solid({6, 6, 6, 6}), noise = testframes::noise(w, h, ps, seed++),
                  ramp = testframes::gradient(w, h, ps);
      const std::vector<Bytes> frames = {start, noise, ramp, a, a, b, b, flat, flat, grey, grey_too, a};
      for (int skip : {0, 1}) {
        if (ps == 3) run(frames, w, h, 24, {.skip_unchanged = skip});
        if (ps == 4) run(frames, w, h, 32, {.skip_unchanged = skip, .keep_alpha = 1});
        if (ps == 4) run(frames, w, h, 32, {.skip_unchanged = skip});
        if (HasFatalFailure()) return;
      }
    }
  }
  const Bytes screen = testframes::screen(1920, 1080, 4, 5);
  run({screen}, 1920, 1080, 32, {.keep_alpha = 1});
  run({drop_alpha(screen), testframes::noise(1920, 1080, 3, 9)}, 1920, 1080, 24);
}

INSTANTIATE_TEST_SUITE_P(Levels, RoundTrip,
                         testing::Values(PredictionSimd::Scalar, PredictionSimd::Sse2, PredictionSimd::Ssse3,
                                         PredictionSimd::Avx2),
                         [](const auto& info) { return std::string(prediction_simd_name(info.param)); });

// Decodes a frame into a decoder holding a grey frame of 42, which a refusal
// must leave in place.
int decode_over_grey(const Bytes& bytes, int depth, Bytes* decoded = nullptr) {
  FrameDecoder decoder;
  EXPECT_EQ(decoder.Begin(20, 6, depth), ICERR_OK);
  EXPECT_EQ(decoder.Decode(Bytes{FRAME_GREY, 42}), ICERR_OK);
  const int status = decoder.Decode(bytes);
  EXPECT_TRUE(status == ICERR_OK || current(decoder) == Bytes(3 * 20 * 6, 42));
  EXPECT_NE(std::string(decode_status_message(status)), "unknown status");
  if (decoded != nullptr) *decoded = current(decoder);
  return status;
}

// Up to 3 bytes of fill behind a frame are ignored; a cut frame is refused,
// except where the range decoder had no need of the last bytes of the last
// plane: then it is the whole frame; offsets out of order, outside the frame
// or not on the planes. (crvtdec's tests take one damaged frame of each kind
// through every status, the library's every type byte, the fuzz target
// damage anywhere.)
TEST(FrameDecoder, DamagedFramesAreRefusedAndFillIsIgnored) {
  Bytes frame24 = testframes::screen(20, 6, 3, 9);
  frame24[7] ^= 0x55;  // some detail, so that no plane is trivial
  const Bytes frame32 = testframes::noise(20, 6, 4, 9), coded24 = encode_one(frame24, 20, 6, 24),
              coded32 = encode_one(frame32, 20, 6, 32, {.keep_alpha = 1});
  const std::pair<Bytes, Bytes> filled[] = {{{FRAME_GREY, 7}, Bytes(20 * 6 * 3, 7)},
                                            {{FRAME_FLAT24, 1, 2, 3}, testframes::solid(20, 6, {1, 2, 3})},
                                            {{FRAME_FLAT32, 1, 2, 3, 4}, testframes::solid(20, 6, {1, 2, 3, 4})},
                                            {coded32, frame32}};
  for (std::size_t fill = 0; fill < 16; ++fill) {
    Bytes padded = filled[fill / 4].first, decoded;
    padded.resize(padded.size() + fill % 4, 0);
    EXPECT_EQ(decode_over_grey(padded, 32, &decoded), ICERR_OK);
    EXPECT_EQ(decoded, filled[fill / 4].second) << fill;
  }
  for (int depth : {24, 32}) {
    const Bytes& coded = depth == 24 ? coded24 : coded32;
    int accepted = 0;
    for (std::size_t length = 1; length < coded.size(); ++length) {
      Bytes decoded;
      if (decode_over_grey(Bytes(coded.begin(), coded.begin() + static_cast<long>(length)), depth, &decoded) ==
          ICERR_OK) {
        EXPECT_EQ(decoded, depth == 24 ? frame24 : frame32) << depth << "-bit frame cut to " << length;
        EXPECT_GE(length, coded.size() - 4);
        ++accepted;
      }
    }
    EXPECT_LE(accepted, 3);
  }
  const std::uint32_t o1 = load_le32(&coded24[1]), o2 = load_le32(&coded24[5]);
  const auto size = static_cast<std::uint32_t>(coded24.size());
  const std::pair<std::uint32_t, std::uint32_t> bad[] = {
      {o2, o1},          {0, o2},           {8, o2},        {9, o2},
      {o1, o1},          {o1, size},        {o1, size + 1}, {size + 1, size + 2},
      {0xFFFFFFFFu, o2}, {o1, 0xFFFFFFF0u}, {o1 - 1, o2},   {o1 + 1, o2}};
  for (const auto& [a, b] : bad) {
    Bytes bytes = coded24;
    store_le32(&bytes[1], a);
    store_le32(&bytes[5], b);
    EXPECT_EQ(decode_over_grey(bytes, 24), a == o1 - 1 || a == o1 + 1 ? ICERR_BADPLANE : ICERR_BADOFFSETS) << a;
  }
}

}  // namespace

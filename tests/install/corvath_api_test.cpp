// libcorvath through its public header only, as another program sees it.
#include <corvath.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "frames.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Encoder {
  crvt_encoder* handle = nullptr;
  Bytes packet;
  Encoder(int w, int h, int depth, unsigned flags = 0) : packet(crvt_encode_bound(w, h, depth)) {
    EXPECT_EQ(crvt_encoder_create(w, h, depth, flags, &handle), CRVT_OK);
  }
  ~Encoder() { crvt_encoder_destroy(handle); }
  Bytes encode(const Bytes& frame) {
    size_t size = 999;
    EXPECT_EQ(crvt_encode(handle, frame.data(), frame.size(), packet.data(), packet.size(), &size), CRVT_OK);
    return Bytes(packet.begin(), packet.begin() + static_cast<long>(size));
  }
};

struct Decoder {
  crvt_decoder* handle = nullptr;
  Bytes out;   // the caller's buffer, exactly crvt_frame_size
  Bytes last;  // the frame of the last successful decode
  Decoder(int w, int h, int depth) : out(crvt_frame_size(w, h, depth), 0xEE) {
    EXPECT_EQ(crvt_decoder_create(w, h, depth, &handle), CRVT_OK);
  }
  ~Decoder() { crvt_decoder_destroy(handle); }
  crvt_status decode(const Bytes& packet) {
    size_t size = 0;
    const crvt_status s = crvt_decode(handle, packet.data(), packet.size(), out.data(), out.size(), &size);
    if (s == CRVT_OK) last = Bytes(out.begin(), out.begin() + static_cast<long>(size));
    return s;
  }
};

// Streams of every kind of frame (starting from all 128, as the decoder
// does, so that a first null frame decodes to it; full, one-colour, repeated,
// empty) at 24 and 32 bits (all four bytes kept), with null frames for
// repeats or without. Handles on threads: quelmux's and crvtdec's -j tests. (The codec's own tests take
// many more sizes and contents through every instruction-set level.)
TEST(CorvathApi, RoundTrips) {
  for (const auto& [w, h, depth, flags] : {std::tuple{13, 7, 24, 0u},
                                           {13, 7, 32, unsigned{CRVT_SKIP_UNCHANGED}},
                                           {161, 100, 32, 0u},
                                           {0, 5, 24, unsigned{CRVT_SKIP_UNCHANGED}}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h << "x" << depth << " " << flags);
    const int ps = depth / 8;
    const Bytes start(crvt_frame_size(w, h, depth), 128),
        noise = testframes::noise(w, h, ps, 1),
        flat = testframes::solid(w, h, ps == 3 ? Bytes{1, 2, 3} : Bytes{1, 2, 3, 4});
    const std::vector<Bytes> frames = {start, noise, testframes::gradient(w, h, ps), flat, flat,
                                       noise, noise, testframes::screen(w, h, ps, 2)};
    Encoder enc(w, h, depth, flags);
    Decoder dec(w, h, depth);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const Bytes packet = enc.encode(frames[i]);
      // Null frames only when asked for, and only for a repeated frame.
      EXPECT_EQ(packet.empty(), flags != 0 && frames[i] == (i == 0 ? start : frames[i - 1])) << "frame " << i;
      ASSERT_EQ(dec.decode(packet), CRVT_OK) << "frame " << i;
      ASSERT_TRUE(dec.last == frames[i]) << "frame " << i;
    }
  }
  // A 32-bit decoder gives the 3-byte frames of a 24-bit encoder back as such.
  Encoder enc24(9, 4, 24);
  Decoder dec32(9, 4, 32);
  const Bytes frame24 = testframes::gradient(9, 4, 3);
  ASSERT_EQ(dec32.decode(enc24.encode(frame24)), CRVT_OK);
  EXPECT_EQ(dec32.last, frame24);
}

TEST(CorvathApi, SizesAndBadArguments) {
  const std::array<int, 3> refused[] = {{-1, 4, 24},        {4, -1, 24},        {4, 4, 0},
                                        {4, 4, 8},          {4, 4, 16},         {4, 4, 33},
                                        {65535, 65535, 32}, {65536, 65536, 24}, {40000, 30000, 32}};
  for (const auto& g : refused) {
    SCOPED_TRACE(testing::Message() << g[0] << "x" << g[1] << "x" << g[2]);
    EXPECT_EQ(crvt_frame_size(g[0], g[1], g[2]), 0u);
    EXPECT_EQ(crvt_encode_bound(g[0], g[1], g[2]), 0u);
    static char sentinel;
    auto* enc = reinterpret_cast<crvt_encoder*>(&sentinel);
    auto* dec = reinterpret_cast<crvt_decoder*>(&sentinel);
    EXPECT_EQ(crvt_encoder_create(g[0], g[1], g[2], 0, &enc), CRVT_ERROR_GEOMETRY);
    EXPECT_EQ(crvt_decoder_create(g[0], g[1], g[2], &dec), CRVT_ERROR_GEOMETRY);
    EXPECT_TRUE(enc == nullptr && dec == nullptr);
  }
  crvt_encoder* huge = nullptr;  // frames that fit the format but not the encoder's buffers
  EXPECT_TRUE(crvt_encoder_create(1, 1 << 30, 24, 0, &huge) == CRVT_ERROR_GEOMETRY && huge == nullptr);

  // Refused calls change nothing: not the output, not the size, not the stream.
  const int w = 16, h = 8;
  Encoder enc(w, h, 24, CRVT_SKIP_UNCHANGED);
  const Bytes frame = testframes::gradient(w, h, 3);
  Bytes out(enc.packet.size(), 0x5A), shared(frame.size() + out.size());
  std::copy(frame.begin(), frame.end(), shared.begin() + 1);
  size_t size = 12345;
  auto* e = enc.handle;
  const auto* f = frame.data();
  auto* o = out.data();
  const std::pair<crvt_status, crvt_status> encodes[] = {
      {crvt_encode(e, f, frame.size(), o, out.size() - 1, &size), CRVT_ERROR_BUFFER_TOO_SMALL},
      {crvt_encode(e, f, frame.size() - 1, o, out.size(), &size), CRVT_ERROR_ARGUMENT},
      {crvt_encode(e, nullptr, frame.size(), o, out.size(), &size), CRVT_ERROR_ARGUMENT},
      {crvt_encode(e, f, frame.size(), nullptr, out.size(), &size), CRVT_ERROR_ARGUMENT},
      {crvt_encode(e, f, frame.size(), o, out.size(), nullptr), CRVT_ERROR_ARGUMENT},
      {crvt_encode(nullptr, f, frame.size(), o, out.size(), &size), CRVT_ERROR_ARGUMENT},
      // The encoder reads the frame after writing its output: the two must not share a byte.
      {crvt_encode(e, shared.data() + 1, frame.size(), shared.data() + frame.size(), out.size(), &size),
       CRVT_ERROR_ARGUMENT},
  };
  for (const auto& [status, want] : encodes) EXPECT_EQ(status, want);
  EXPECT_EQ(size, 12345u);
  EXPECT_EQ(out, Bytes(out.size(), 0x5A));
  EXPECT_TRUE(enc.encode(Bytes(frame.size(), 128)).empty());  // still the start of the stream
  crvt_encoder* other = nullptr;
  EXPECT_EQ(crvt_encoder_create(w, h, 24, 2, &other), CRVT_ERROR_ARGUMENT);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(crvt_encoder_create(w, h, 24, 0, nullptr), CRVT_ERROR_ARGUMENT);
  EXPECT_EQ(crvt_decoder_create(6, 5, 24, nullptr), CRVT_ERROR_ARGUMENT);
  crvt_encoder_destroy(nullptr);
  crvt_decoder_destroy(nullptr);

  Decoder dec(6, 5, 32);
  const Bytes grey = {5, 40};
  auto* d = dec.handle;
  const std::pair<crvt_status, crvt_status> decodes[] = {
      {crvt_decode(d, grey.data(), grey.size(), dec.out.data(), dec.out.size() - 1, &size),
       CRVT_ERROR_BUFFER_TOO_SMALL},
      {crvt_decode(d, nullptr, 2, dec.out.data(), dec.out.size(), &size), CRVT_ERROR_ARGUMENT},
      {crvt_decode(d, grey.data(), grey.size(), nullptr, dec.out.size(), &size), CRVT_ERROR_ARGUMENT},
      {crvt_decode(d, grey.data(), grey.size(), dec.out.data(), dec.out.size(), nullptr), CRVT_ERROR_ARGUMENT},
      {crvt_decode(nullptr, grey.data(), grey.size(), dec.out.data(), dec.out.size(), &size), CRVT_ERROR_ARGUMENT},
  };
  for (const auto& [status, want] : decodes) EXPECT_EQ(status, want);
  EXPECT_EQ(dec.out, Bytes(dec.out.size(), 0xEE));
  EXPECT_STREQ(crvt_status_message(static_cast<crvt_status>(7)), "unknown status");
  EXPECT_STRNE(crvt_status_message(CRVT_ERROR_CORRUPT), crvt_status_message(CRVT_ERROR_ARGUMENT));
}

// A corrupted frame is refused, the caller's buffer is left alone, and the
// decoder still holds the frame before it. (Plane offsets out of order or
// past the end are FrameDecoder's tests', damage anywhere the frame decoder's
// fuzz target's.)
TEST(CorvathApi, CorruptFramesAreRefusedWithoutHarm) {
  for (int depth : {24, 32}) {
    SCOPED_TRACE(depth);
    const int ps = depth / 8;
    Encoder enc(23, 11, depth);
    Decoder dec(23, 11, depth);
    const Bytes first = testframes::screen(23, 11, ps, 3), full = enc.encode(testframes::noise(23, 11, ps, 4));
    ASSERT_EQ(dec.decode(enc.encode(first)), CRVT_OK);
    std::vector<Bytes> bad = {{5}, {6, 1, 2}, {9, 1, 2, 3}, Bytes(full.begin(), full.begin() + ps * 4 - 4)};
    for (int type : {0, 3, 7, 10, 255, depth == 24 ? 8 : 0}) {
      bad.push_back(full);
      bad.back()[0] = static_cast<unsigned char>(type);
    }
    for (std::size_t i = 0; i < bad.size(); ++i) {
      std::fill(dec.out.begin(), dec.out.end(), 0xEE);
      EXPECT_EQ(dec.decode(bad[i]), CRVT_ERROR_CORRUPT) << "case " << i;
      EXPECT_EQ(dec.out, Bytes(dec.out.size(), 0xEE)) << "case " << i;
    }
    ASSERT_EQ(dec.decode({}), CRVT_OK);
    EXPECT_EQ(dec.last, first);
  }
}

// Handles on distinct threads at the same time (the CI runs this under
// ThreadSanitizer): each thread's stream comes out as one thread codes it.
TEST(CorvathApi, DistinctHandlesOnDistinctThreads) {
  const int w = 67, h = 45;
  std::vector<Bytes> frames = {testframes::noise(w, h, 3, 5), testframes::gradient(w, h, 3),
                               testframes::screen(w, h, 3, 5)};
  frames.push_back(frames.back());
  std::vector<Bytes> alone;
  Encoder encoder(w, h, 24, CRVT_SKIP_UNCHANGED);
  for (const Bytes& f : frames) alone.push_back(encoder.encode(f));
  std::vector<int> matches(4, 0);
  std::vector<std::thread> threads;
  for (int& matched : matches) {
    threads.emplace_back([&] {
      Encoder e(w, h, 24, CRVT_SKIP_UNCHANGED);
      Decoder d(w, h, 24);
      for (std::size_t i = 0; i < frames.size(); ++i) {
        const Bytes packet = e.encode(frames[i]);
        matched += packet == alone[i] && d.decode(packet) == CRVT_OK && d.last == frames[i];
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(matches, std::vector<int>(4, static_cast<int>(frames.size())));
}

}  // namespace

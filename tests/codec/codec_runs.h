// Runs of the encoder on guarded output buffers of the codec's own bound, and
// the expected bytes of full frames built plane by plane from the plain
// prediction.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "codec/codec_inst.h"
#include "codec/frame_format.h"
#include "codec/prediction.h"
#include "guarded.h"
#include "reference.h"

// Under AddressSanitizer an address-space limit cannot be set, so the tests
// of failed acquisitions skip.
#if defined(__SANITIZE_ADDRESS__)
#define QUELMUX_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUELMUX_TEST_ASAN 1
#endif
#endif

namespace codecruns {

using Bytes = std::vector<unsigned char>;

struct Coded {
  Bytes bytes;
  std::uint32_t flags = 0;
};

struct Settings {
  int skip_unchanged = 0;
  int keep_alpha = 0;
  int wide_buffers = 0;
  PredictionSimd simd = best_prediction_simd();
};

// One instance over a sequence of frames.
class Encoder {
 public:
  Encoder(int width, int height, int bit_depth, Settings settings = {})
      : max_(max_frame_size(width, height, bit_depth)) {
    codec_.skip_unchanged = settings.skip_unchanged;
    codec_.keep_alpha = settings.keep_alpha;
    codec_.wide_buffers = settings.wide_buffers;
    codec_.simd = settings.simd;
    EXPECT_EQ(codec_.CompressBegin(width, height, bit_depth), ICERR_OK);
  }

  Coded encode(const Bytes& frame) {
    const Guarded in(frame);
    Guarded out(max_, 0xEE);
    ICCOMPRESS record{0xDEAD, 0xBEEF, out.data(), in.data()};
    EXPECT_EQ(codec_.CompressContinue(&record, 0), ICERR_OK);
    EXPECT_TRUE(out.guards_intact()) << "frame larger than max_frame_size";
    EXPECT_EQ(in.content(), frame) << "input changed";
    EXPECT_LE(record.dwCompressedSize, max_);
    const Bytes all = out.content();
    return {Bytes(all.begin(), all.begin() + record.dwCompressedSize), record.dwFlags};
  }

  CodecInst& codec() { return codec_; }

 private:
  std::size_t max_;
  CodecInst codec_;
};

inline Coded encode_one(const Bytes& frame, int width, int height, int bit_depth, Settings settings = {}) {
  Encoder encoder(width, height, bit_depth, settings);
  return encoder.encode(frame);
}

inline void append_le32(Bytes& b, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b.push_back(static_cast<unsigned char>(v >> (8 * k)));
}

// The compacted stream of one plane as compact() reports it (stored bytes and
// the byte behind).
inline Bytes compacted(const Bytes& plane) {
  Compress coder;
  coder.InitCompressBuffers(static_cast<std::uint32_t>(plane.size()));
  Bytes out(compact_bound(plane.size()));
  out.resize(coder.compact(plane.data(), out.data(), static_cast<std::uint32_t>(plane.size())));
  return out;
}

// A full frame the long way: DeEntropy (or DeEntropy32) into interleaved
// residuals, split into planes, each compacted by a coder of its own, the
// offsets added up from the reported lengths.
inline Bytes full_frame_by_planes(const Bytes& frame, int width, int height, int pixel_size) {
  Bytes work = frame;
  Bytes interleaved(frame.size());
  if (pixel_size == 3) {
    DeEntropy(work.data(), interleaved.data(), width, height);
  } else {
    DeEntropy32(work.data(), interleaved.data(), width, height);
  }
  const std::vector<Bytes> planes = reference::split(interleaved, pixel_size);
  std::vector<Bytes> streams;
  for (const Bytes& plane : planes) streams.push_back(compacted(plane));
  Bytes out{pixel_size == 3 ? FRAME_FULL24 : FRAME_FULL32};
  std::uint32_t offset = pixel_size == 3 ? 9 : 13;
  for (std::size_t k = 0; k + 1 < streams.size(); ++k) {
    offset += static_cast<std::uint32_t>(streams[k].size());
    append_le32(out, offset);
  }
  for (const Bytes& s : streams) out.insert(out.end(), s.begin(), s.end());
  return out;
}

// Bytes 0..2 of every 4-byte pixel.
inline Bytes drop_alpha(const Bytes& frame) {
  Bytes out;
  for (std::size_t i = 0; i < frame.size(); i += 4) out.insert(out.end(), &frame[i], &frame[i] + 3);
  return out;
}

}  // namespace codecruns

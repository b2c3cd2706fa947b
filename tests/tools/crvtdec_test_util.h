// Helpers of the tests that run crvtdec (here and in tests/plugins): the real
// programs, sample movies, AVI files built frame by frame, PPM images.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "mov/movie_writer.h"
#include "mov/synthetic_frames.h"
#include "test_support.h"

namespace crvtdec_test {

using Bytes = std::vector<std::uint8_t>;
using testsupport::RunResult;

RunResult crvtdec(const std::vector<std::string>& args);
RunResult quelmux(const std::vector<std::string>& args);

inline movgen::FrameSource source(int width, int height, movgen::Content content, std::uint64_t seed = 7) {
  return movgen::FrameSource(width, height, {content, seed});
}

// Writes a movie of `source`'s frames to `path`; its layout tells where the
// frames lie.
movgen::MovieLayout write_movie(const std::filesystem::path& path, const movgen::MovieOptions& options,
                                const movgen::FrameSource& source);

// Frame `index` of `source` in the layouts of the codec and the AVI file:
// bottom-up B, G, R rows, packed.
inline Bytes bgr_frame(const movgen::FrameSource& source, std::uint32_t i) { return testsupport::avi_frame(source, i); }

// Corvath frames of the given pictures (bit_depth / 8 bytes a pixel, rows
// packed in memory order), from one encoder that keeps a fourth byte.
std::vector<Bytes> encode(int width, int height, int bit_depth, const std::vector<Bytes>& pictures);

struct AviSpec {
  int width = 0;
  int height = 0;          // negative for a stream whose top row comes first
  bool compressed = true;  // "CRVT", else BI_RGB
  int rate = 30;
  int scale = 1;
  std::uint64_t part_limit = 1ull << 30;
};
// Writes an AVI file of `frames` through AviWriter.
void write_avi(const std::filesystem::path& path, const AviSpec& spec, const std::vector<Bytes>& frames);

// `b` with the little-endian field of `bytes` bytes at `at` set to `value`.
Bytes put(Bytes b, std::size_t at, std::uint32_t value, int bytes = 4);
inline void put_u16(Bytes& b, std::size_t at, std::uint16_t value) { b = put(std::move(b), at, value, 2); }

// Field offsets in the files AviWriter writes.
inline constexpr std::size_t kBiHeight = 0xB4, kBiBitCount = 0xBA, kBiCompression = 0xBC;

// A PPM image file read back: width, height, and the pixels top row first,
// R, G, B.
struct Image {
  int width = 0;
  int height = 0;
  Bytes pixels;
};
Image read_ppm(const std::filesystem::path& path);

}  // namespace crvtdec_test

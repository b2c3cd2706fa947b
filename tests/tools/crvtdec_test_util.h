// Helpers of crvtdec's tests: the real programs, sample movies, AVI files
// built frame by frame, and the images crvtdec writes read back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "mov/movie_writer.h"
#include "mov/synthetic_frames.h"
#include "test_support.h"

namespace crvtdec_test {

using Bytes = std::vector<std::uint8_t>;
using testsupport::RunResult;

RunResult crvtdec(const std::vector<std::string>& args);
RunResult quelmux(const std::vector<std::string>& args);

movgen::FrameSource source(int width, int height, movgen::Content content, std::uint64_t seed = 7);

// Writes a movie of `source`'s frames to `path`; its layout tells where the
// frames lie.
movgen::MovieLayout write_movie(const std::filesystem::path& path, const movgen::MovieOptions& options,
                                const movgen::FrameSource& source);

// Frame `index` of `source` in the layouts of the codec and the AVI file:
// bottom-up B, G, R rows, packed.
Bytes bgr_frame(const movgen::FrameSource& source, std::uint32_t index);

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

// Little-endian fields of a file held in memory.
std::uint32_t get_u32(const Bytes& bytes, std::size_t at);
void put_u32(Bytes& bytes, std::size_t at, std::uint32_t value);
void put_u16(Bytes& bytes, std::size_t at, std::uint16_t value);

// Field offsets in the files AviWriter writes.
inline constexpr std::size_t kBiHeight = 0xB4;
inline constexpr std::size_t kBiBitCount = 0xBA;
inline constexpr std::size_t kBiCompression = 0xBC;
inline constexpr std::size_t kFirstChunk = 0x200C;

// An image file read back: width, height, and the pixels top row first, in
// R, G, B (, A) order.
struct Image {
  int width = 0;
  int height = 0;
  int channels = 0;
  Bytes pixels;
};
Image read_ppm(const std::filesystem::path& path);
Image read_png(const std::filesystem::path& path);

}  // namespace crvtdec_test

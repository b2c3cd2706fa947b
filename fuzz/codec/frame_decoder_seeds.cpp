// Writes the seed corpus of fuzz_frame_decoder into the folder given as its
// argument: frames of every type as the encoder makes them, each behind the
// three geometry bytes the fuzz target reads.
//   frame_decoder_seeds fuzz/corpus/frame_decoder
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "codec/codec_inst.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Smooth ramps, with flat bars and a few sharp strokes: something of every
// kind the planes' coder meets.
Bytes picture(int width, int height, int pixel_size, std::uint32_t seed) {
  Bytes b;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      for (int k = 0; k < pixel_size; ++k) {
        int v = (x * (k + 2) + y * (4 - k)) & 0xFF;
        if (y % 7 == 3) v = 200;
        if ((x + y) % 11 == 0) v = static_cast<int>(seed >> 24);
        b.push_back(static_cast<unsigned char>(v));
      }
    }
  }
  return b;
}

Bytes solid(int width, int height, const Bytes& pixel) {
  Bytes b;
  for (int i = 0; i < width * height; ++i) b.insert(b.end(), pixel.begin(), pixel.end());
  return b;
}

bool write(const std::string& dir, const std::string& name, int width, int height, int depth, const Bytes& frame,
           int keep_alpha = 0, std::size_t fill = 0) {
  CodecInst codec;
  codec.keep_alpha = keep_alpha;
  if (codec.CompressBegin(width, height, depth) != ICERR_OK) return false;
  Bytes out(max_frame_size(width, height, depth));
  ICCOMPRESS record{0, 0, out.data(), frame.data()};
  codec.CompressContinue(&record, 0);
  out.resize(record.dwCompressedSize + fill, 0);
  Bytes seed = {static_cast<unsigned char>(width), static_cast<unsigned char>(height),
                static_cast<unsigned char>(depth == 32 ? 1 : 0)};
  seed.insert(seed.end(), out.begin(), out.end());
  std::ofstream file(dir + "/" + name, std::ios::binary);
  file.write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
  return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::puts("usage: frame_decoder_seeds <folder>");
    return 2;
  }
  const std::string dir = argv[1];
  const bool ok = write(dir, "grey24", 16, 8, 24, solid(16, 8, {77, 77, 77})) &&
                  write(dir, "grey24_fill", 5, 3, 24, solid(5, 3, {9, 9, 9}), 0, 2) &&
                  write(dir, "flat24", 16, 8, 24, solid(16, 8, {1, 2, 3})) &&
                  write(dir, "full24_empty", 0, 0, 24, {}) && write(dir, "full24_pixel", 1, 1, 24, {10, 20, 30}) &&
                  write(dir, "full24_column", 1, 40, 24, picture(1, 40, 3, 1)) &&
                  write(dir, "full24_picture", 40, 24, 24, picture(40, 24, 3, 2)) &&
                  write(dir, "full24_runs", 48, 32, 24,
                        [] {
                          Bytes b = solid(48, 32, {50, 60, 70});
                          b[100] = 0;
                          b[2000] = 255;
                          return b;
                        }()) &&
                  write(dir, "full24_fill", 13, 7, 24, picture(13, 7, 3, 3), 0, 3) &&
                  write(dir, "grey_from32", 8, 8, 32, solid(8, 8, {4, 4, 4, 200})) &&
                  write(dir, "full24_from32", 20, 10, 32, picture(20, 10, 4, 4)) &&
                  write(dir, "flat32", 8, 8, 32, solid(8, 8, {1, 2, 3, 4}), 1) &&
                  write(dir, "full32_picture", 30, 20, 32, picture(30, 20, 4, 5), 1) &&
                  write(dir, "full32_three", 3, 1, 32, picture(3, 1, 4, 6), 1);
  if (!ok) std::puts("could not write the seeds");
  return ok ? 0 : 1;
}

// crvtdec --info <in.avi>: what the stream holds and how well it is
// compressed, from the stored frames alone (nothing is decoded).
#include <cstdint>
#include <cstdio>

#include "codec/frame_format.h"
#include "crvtdec/avi_input.h"
#include "crvtdec/modes.h"

namespace crvtdec {

namespace {

struct FrameCounts {
  std::uint64_t null = 0;
  std::uint64_t full24 = 0;
  std::uint64_t grey = 0;
  std::uint64_t flat24 = 0;
  std::uint64_t full32 = 0;
  std::uint64_t flat32 = 0;
  std::uint64_t uncompressed = 0;
  std::uint64_t unknown = 0;  // type bytes no encoder writes
  std::uint64_t stored_bytes = 0;

  void add_corvath(int type) {
    switch (type) {
      case -1: ++null; break;
      case FRAME_FULL24: ++full24; break;
      case FRAME_GREY: ++grey; break;
      case FRAME_FLAT24: ++flat24; break;
      case FRAME_FULL32: ++full32; break;
      case FRAME_FLAT32: ++flat32; break;
      default: ++unknown; break;
    }
  }
};

unsigned long long ull(std::uint64_t v) { return static_cast<unsigned long long>(v); }

void print_info(const AviInput& input, const FrameCounts& counts) {
  const avi::VideoStream& s = input.stream();
  const std::uint64_t frames = input.frame_count();
  std::printf("File: %s\n", input.name().c_str());
  if (input.kind() == StreamKind::corvath) {
    std::printf("Video: Corvath (\"CRVT\"), %d bits a pixel\n", input.bit_depth());
  } else {
    std::printf("Video: uncompressed (\"DIB \"), 24 bits a pixel\n");
  }
  std::printf("Size: %d x %d%s\n", input.width(), input.height(), input.top_down() ? ", top row first" : "");
  if (s.scale != 0 && s.rate != 0) {
    std::printf("Frame rate: %.6g frames a second (%u / %u)\n", static_cast<double>(s.rate) / s.scale, s.rate, s.scale);
  } else {
    std::printf("Frame rate: unknown (%u / %u)\n", s.rate, s.scale);
  }
  std::printf("Frames: %llu", ull(frames));
  // A header that disagrees with the frames found hints at a damaged file.
  if (s.length != frames) std::printf(" (the stream header says %u)", s.length);
  std::printf("\n");
  std::printf("  null:          %llu\n", ull(counts.null));
  std::printf("  full 24-bit:   %llu\n", ull(counts.full24));
  std::printf("  grey:          %llu\n", ull(counts.grey));
  std::printf("  flat 24-bit:   %llu\n", ull(counts.flat24));
  std::printf("  full 32-bit:   %llu\n", ull(counts.full32));
  std::printf("  flat 32-bit:   %llu\n", ull(counts.flat32));
  std::printf("  uncompressed:  %llu\n", ull(counts.uncompressed));
  if (counts.unknown != 0) std::printf("  unknown type:  %llu\n", ull(counts.unknown));

  std::printf("Stored size: %llu bytes", ull(counts.stored_bytes));
  if (frames != 0)
    std::printf(", %.1f a frame", static_cast<double>(counts.stored_bytes) / static_cast<double>(frames));
  std::printf("\n");
  // Against the frames as uncompressed bitmaps of the stream's depth.
  const double bitmap_bytes = static_cast<double>(frames) * input.width() * input.height() * (input.bit_depth() / 8);
  if (counts.stored_bytes != 0) {
    std::printf("Compression ratio: %.2f\n", bitmap_bytes / static_cast<double>(counts.stored_bytes));
  } else {
    std::printf("Compression ratio: none (no bytes stored)\n");
  }
  if (input.reader().parts() > 1) std::printf("RIFF parts: %zu\n", input.reader().parts());
}

}  // namespace

int run_info(const Options& options) {
  AviInput input;
  if (!input.open(options.input)) return 1;
  FrameCounts counts;
  for (std::size_t i = 0; i < input.frame_count(); ++i) {
    counts.stored_bytes += input.reader().frames()[i].size;
    if (input.kind() == StreamKind::uncompressed) {
      ++counts.uncompressed;
      continue;
    }
    int type = 0;
    if (!input.stored_type(i, type)) return 1;
    counts.add_corvath(type);
  }
  print_info(input, counts);
  return input.complete() ? 0 : 1;
}

}  // namespace crvtdec

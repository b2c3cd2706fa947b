// crvtdec's input on any bytes: the stream checks, the salvage of unfinished
// files, the frame decoding and the rows handed on must fail cleanly or stay
// inside the frames. Nothing may be set up from the header's claims alone:
// run with -malloc_limit_mb=256, which any claim-sized buffer goes past.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "crvtdec/avi_input.h"
#include "crvtdec/frame_compare.h"

namespace {

// A Corvath frame of a few bytes (a flat or null frame) stands for a picture
// of any size, and decoding it takes that picture's memory: such pictures
// are only looked at, not decoded.
constexpr std::uint64_t kMaxDecodedBytes = std::uint64_t{16} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  crvtdec::AviInput input;
  if (!input.open(std::span(data, size), "input")) return 0;
  unsigned sum = 0;
  for (std::size_t i = 0; i < input.frame_count(); ++i) {
    int type = 0;
    if (!input.stored_type(i, type)) return 0;
    sum += static_cast<unsigned>(type);
  }
  const std::uint64_t picture = std::uint64_t(input.width()) * std::uint64_t(input.height()) * 4;
  if (input.frame_count() == 0 || picture > kMaxDecodedBytes) {
    if (sum == 0xFFFFFFFFu) std::puts("");  // keeps the reads
    return 0;
  }
  std::vector<std::uint8_t> zeros(3 * std::size_t(input.width()) * std::size_t(input.height()));
  crvtdec::FrameComparer comparer;
  if (!comparer.begin(input.width())) return 0;
  crvtdec::FrameView frame;
  while (input.position() < input.frame_count()) {
    if (!input.next(frame)) return 0;
    if (frame.width != input.width() || frame.height != input.height() || frame.stride < frame.row_bytes()) {
      __builtin_trap();
    }
    for (int y = 0; y < frame.height; ++y) sum += frame.row(y)[0] + frame.row(y)[frame.row_bytes() - 1];
    if (frame.pixel_size == 3) comparer.first_difference(frame, {zeros, (sum & 1) != 0});
  }
  if (sum == 0xFFFFFFFFu) std::puts("");  // keeps the reads
  return 0;
}

// crvtdec <in.avi> <out.avi>: the frames again, uncompressed, in the layout of
// "quelmux -u".
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

#include "app/pixel_convert.h"
#include "app/progress.h"
#include "avi/avi_writer.h"
#include "crvtdec/avi_input.h"
#include "crvtdec/messages.h"
#include "crvtdec/modes.h"
#include "crvtdec/progress_total.h"

namespace crvtdec {

namespace {

// AviWriter zeroes this many bytes behind a frame and sends them as its fill.
constexpr std::size_t kWriterFill = 3;

// `frame` as the bitmap the writer takes: bottom row first, each row filled
// with zero bytes to `stride`. The fill is zero from the start and never
// written, whatever fill the input's rows carry.
void to_bitmap(const FrameView& frame, std::uint8_t* out, std::size_t stride) {
  const std::size_t row_bytes = frame.row_bytes();
  for (int k = 0; k < frame.height; ++k) {
    std::memcpy(out + static_cast<std::size_t>(k) * stride, frame.row(frame.height - 1 - k), row_bytes);
  }
}

// Returns true when every frame was written.
bool write_frames(AviInput& input, AviWriter& writer, std::vector<std::uint8_t>& bitmap, std::size_t stride,
                  std::size_t frame_size) {
  Progress progress(progress_count(input.frame_count()));
  FrameView frame;
  while (input.position() < input.frame_count()) {
    if (!input.next(frame)) return false;
    to_bitmap(frame, bitmap.data(), stride);
    if (!writer.write_frame(bitmap.data(), static_cast<int>(frame_size), AviWriter::kKeyFrame)) return false;
    progress.update(progress_count(input.position()));
  }
  return true;
}

}  // namespace

int run_to_avi(const Options& options) {
  AviInput input;
  if (!input.open(options.input)) return 1;
  const char* out = options.second.c_str();
  if (input.bit_depth() != 24) {
    error("%s: 32-bit Corvath frames do not fit the 24-bit layout of an uncompressed AVI file; --frames "
          "writes them as images",
          options.input.c_str());
    return 1;
  }
  std::error_code ec;
  if (std::filesystem::equivalent(options.input, options.second, ec)) {
    error("%s: the output file would overwrite the input", out);
    return 1;
  }
  // Rows filled to 4 bytes, as quelmux -u writes them.
  const std::size_t stride = bitmap_stride(input.width());
  const std::size_t frame_size = stride * static_cast<std::size_t>(input.height());
  if (!AviWriter::can_hold(input.frame_count(), frame_size)) {
    error("%s cannot hold %zu frames of %zu bytes: an AVI file holds at most %llu parts of %llu bytes", out,
          input.frame_count(), frame_size, static_cast<unsigned long long>(AviWriter::kMaxParts),
          static_cast<unsigned long long>(AviWriter::kDefaultPartLimit));
    return 1;
  }
  if (!input.begin()) return 1;
  std::vector<std::uint8_t> bitmap;
  try {
    bitmap.resize(frame_size + kWriterFill);
  } catch (const std::bad_alloc&) {
    error("not enough memory for frames of %d x %d pixels", input.width(), input.height());
    return 1;
  }

  AviWriter writer;
  bool complete = false;
  bool flushed = false;
  {
    // The writer says why it fails.
    LibraryMessagesToStderr messages;
    // The stream's rate and scale go back as the 32-bit patterns they are.
    if (!writer.init(out, input.width(), input.height(), static_cast<int>(input.stream().rate),
                     static_cast<int>(input.stream().scale), 0)) {
      return 1;
    }
    complete = write_frames(input, writer, bitmap, stride, frame_size);
    // The frames before a failure still make a valid file.
    flushed = writer.flush() != 0;
  }
  if (!complete || !flushed) return 1;
  std::printf("%zu frames written to %s\n", input.frame_count(), out);
  return 0;
}

}  // namespace crvtdec

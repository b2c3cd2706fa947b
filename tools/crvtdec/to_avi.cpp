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
#include "app/stop_signals.h"
#include "avi/avi_writer.h"
#include "crvtdec/avi_input.h"
#include "crvtdec/frame_stream.h"
#include "crvtdec/messages.h"
#include "crvtdec/modes.h"
#include "crvtdec/progress_total.h"
#include "mov/movie_signature.h"

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

// Returns the frames written, all of them, or those before a failure or a
// stop that was asked for (after the frame in progress); `done` says whether
// no failure stopped them. The bitmaps are laid out on the decoding threads.
std::size_t write_frames(AviInput& input, AviWriter& writer, std::size_t stride, std::size_t frame_size,
                         const StopSignals& stop, int threads, bool& done) {
  Progress progress(progress_count(input.frame_count()));
  // Taken at the first frame, so that a header's claims cost nothing
  // without frames to back them; the rows' fill stays zero.
  FrameStream<std::vector<std::uint8_t>> frames(
      input, input.frame_count(), threads,
      [&](std::vector<std::uint8_t>& bitmap) {
        try {
          bitmap.resize(frame_size + kWriterFill);
        } catch (const std::bad_alloc&) {
          return error("not enough memory for frames of %d x %d pixels", input.width(), input.height());
        }
        return true;
      },
      nullptr,
      [&](std::size_t, const FrameView& frame, std::vector<std::uint8_t>& bitmap, int, std::string&) {
        to_bitmap(frame, bitmap.data(), stride);
        return true;
      });
  done = false;
  while (frames.position() < input.frame_count() && !stop.requested()) {
    std::vector<std::uint8_t>* bitmap = frames.next();
    if (bitmap == nullptr) return frames.position();
    if (const AviStatus written = writer.write_frame(bitmap->data(), static_cast<int>(frame_size), AVIIF_KEYFRAME);
        !written) {
      print_message(written.message);
      return frames.position() - 1;
    }
    progress.update(progress_count(frames.position()));
  }
  done = true;
  return frames.position();
}

}  // namespace

int run_to_avi(const Options& options) {
  AviInput input;
  if (!input.open(options.input)) return 1;
  const char* out = options.second.c_str();
  if (input.bit_depth() != 24) {
    error(
        "%s: 32-bit Corvath frames do not fit the 24-bit layout of an uncompressed AVI file; --frames "
        "writes them as images",
        options.input.c_str());
    return 1;
  }
  std::error_code ec;
  if (std::filesystem::equivalent(options.input, options.second, ec)) {
    error("%s: the output file would overwrite the input", out);
    return 1;
  }
  if (is_movie_file(out)) {
    error("%s is a QuickTime movie: crvtdec does not write over it", out);
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

  AviWriter writer;
  // The file is completed with the frames written so far, whatever stops
  // the run; a signal meanwhile is only noted.
  const StopSignals stop;
  // The stream's rate and scale go back as the 32-bit patterns they are.
  if (const AviStatus begun = writer.init(out, input.width(), input.height(), static_cast<int>(input.stream().rate),
                                          static_cast<int>(input.stream().scale), 0);
      !begun) {
    print_message(begun.message);
    return 1;
  }
  bool written = false;
  const std::size_t count = write_frames(input, writer, stride, frame_size, stop, options.threads, written);
  // The frames before a failure still make a valid file; a writer that
  // failed has said so already.
  const AviStatus flushed = writer.flush();
  if (!flushed) print_message(flushed.message);
  if (!written || !flushed) return 1;
  if (count < input.frame_count()) {
    error("interrupted by %s: %d of %zu frames written to %s", StopSignals::name(stop.signal_number()),
          writer.frames_written(), input.frame_count(), out);
    return stop.exit_status();
  }
  std::printf("%zu frames written to %s\n", input.frame_count(), out);
  return input.complete() ? 0 : 1;
}

}  // namespace crvtdec

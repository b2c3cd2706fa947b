// crvtdec --frames [--png] <in.avi> <pattern>: every frame as an image file.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/progress.h"
#include "app/stop_signals.h"
#include "crvtdec/avi_input.h"
#include "crvtdec/frame_pattern.h"
#include "crvtdec/frame_stream.h"
#include "crvtdec/image_files.h"
#include "crvtdec/messages.h"
#include "crvtdec/modes.h"
#include "crvtdec/progress_total.h"
#include "mov/movie_signature.h"

namespace crvtdec {

namespace {

struct Image {
  std::vector<std::uint8_t> bytes;
  std::size_t size = 0;
};

// Writes the frames until all are written, one fails, or a stop is asked
// for (after the image in progress); returns false on a failure. The images
// are made on the decoding threads and written in order.
bool write_images(AviInput& input, const FramePattern& pattern, const ImageWriter& images, const StopSignals& stop,
                  int threads, std::size_t& written) {
  Progress progress(progress_count(input.frame_count()));
  FrameStream<Image> frames(
      input, input.frame_count(), threads,
      [&](Image& image) {
        try {
          image.bytes.resize(images.largest_image(input.width(), input.height()));
        } catch (const std::bad_alloc&) {
          return error("not enough memory for images of %d x %d pixels", input.width(), input.height());
        }
        return true;
      },
      nullptr,
      [&](std::size_t i, const FrameView& frame, Image& image, int, std::string& why) {
        return images.encode(frame, image.bytes, image.size, pattern.name(i), why);
      });
  written = 0;
  while (frames.position() < input.frame_count() && !stop.requested()) {
    const std::size_t number = frames.position();
    const std::string name = pattern.name(number);
    std::error_code ec;
    if (std::filesystem::equivalent(name, input.name(), ec)) {
      return error("%s: the image of frame %zu would overwrite the input", name.c_str(), number);
    }
    if (is_movie_file(name.c_str())) {
      return error("%s: the image of frame %zu would overwrite a QuickTime movie", name.c_str(), number);
    }
    const Image* image = frames.next();
    if (image == nullptr || !images.write_file(image->bytes.data(), image->size, name)) return false;
    written = number + 1;
    progress.update(progress_count(number + 1));
  }
  return true;
}

}  // namespace

int run_frames(const Options& options) {
  FramePattern pattern;
  std::string why;
  if (!pattern.parse(options.second, why)) {
    error("bad file name pattern \"%s\": %s", options.second.c_str(), why.c_str());
    return 1;
  }
  AviInput input;
  if (!input.open(options.input)) return 1;
  const ImageWriter images(options.png ? ImageFormat::png : ImageFormat::ppm);
  const StopSignals stop;
  std::size_t written = 0;
  if (!write_images(input, pattern, images, stop, options.threads, written)) return 1;
  if (written < input.frame_count()) {
    error("interrupted by %s: %zu of %zu frames written as %s", StopSignals::name(stop.signal_number()), written,
          input.frame_count(), options.second.c_str());
    return stop.exit_status();
  }
  std::printf("%zu frames written as %s\n", input.frame_count(), options.second.c_str());
  return input.complete() ? 0 : 1;
}

}  // namespace crvtdec

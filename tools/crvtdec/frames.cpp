// crvtdec --frames [--png] <in.avi> <pattern>: every frame as an image file.
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/progress.h"
#include "app/stop_signals.h"
#include "crvtdec/avi_input.h"
#include "crvtdec/frame_pattern.h"
#include "crvtdec/image_files.h"
#include "crvtdec/messages.h"
#include "crvtdec/modes.h"
#include "crvtdec/progress_total.h"
#include "mov/movie_signature.h"

namespace crvtdec {

namespace {

// Writes the frames until all are written, one fails, or a stop is asked
// for (after the image in progress).
bool write_images(AviInput& input, const FramePattern& pattern, ImageWriter& images, const StopSignals& stop) {
  Progress progress(progress_count(input.frame_count()));
  FrameView frame;
  while (input.position() < input.frame_count() && !stop.requested()) {
    const std::size_t number = input.position();
    const std::string name = pattern.name(number);
    std::error_code ec;
    if (std::filesystem::equivalent(name, input.name(), ec)) {
      return error("%s: the image of frame %zu would overwrite the input", name.c_str(), number);
    }
    if (is_movie_file(name.c_str())) {
      return error("%s: the image of frame %zu would overwrite a QuickTime movie", name.c_str(), number);
    }
    if (!input.next(frame) || !images.write(frame, name)) return false;
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
  ImageWriter images(options.png ? ImageFormat::png : ImageFormat::ppm);
  const StopSignals stop;
  if (!write_images(input, pattern, images, stop)) return 1;
  if (input.position() < input.frame_count()) {
    error("interrupted by %s: %zu of %zu frames written as %s", StopSignals::name(stop.signal_number()),
          input.position(), input.frame_count(), options.second.c_str());
    return stop.exit_status();
  }
  std::printf("%zu frames written as %s\n", input.frame_count(), options.second.c_str());
  return input.complete() ? 0 : 1;
}

}  // namespace crvtdec

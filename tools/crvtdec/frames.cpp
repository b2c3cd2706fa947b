// crvtdec --frames [--png] <in.avi> <pattern>: every frame as an image file.
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/progress.h"
#include "crvtdec/avi_input.h"
#include "crvtdec/frame_pattern.h"
#include "crvtdec/image_files.h"
#include "crvtdec/messages.h"
#include "crvtdec/modes.h"
#include "crvtdec/progress_total.h"

namespace crvtdec {

namespace {

bool write_images(AviInput& input, const FramePattern& pattern, ImageWriter& images) {
  Progress progress(progress_count(input.frame_count()));
  FrameView frame;
  while (input.position() < input.frame_count()) {
    const std::size_t number = input.position();
    const std::string name = pattern.name(number);
    std::error_code ec;
    if (std::filesystem::equivalent(name, input.name(), ec)) {
      return error("%s: the image of frame %zu would overwrite the input", name.c_str(), number);
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
  if (!input.open(options.input) || !input.begin()) return 1;
  ImageWriter images(options.png ? ImageFormat::png : ImageFormat::ppm);
  if (!write_images(input, pattern, images)) return 1;
  std::printf("%zu frames written as %s\n", input.frame_count(), options.second.c_str());
  return 0;
}

}  // namespace crvtdec

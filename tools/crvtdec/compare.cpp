// crvtdec --compare <in.avi> <movie.mov>: proves that a conversion lost
// nothing, frame by frame.
#include <algorithm>
#include <cstdio>

#include "app/progress.h"
#include "crvtdec/compare.h"
#include "crvtdec/messages.h"
#include "crvtdec/modes.h"
#include "crvtdec/progress_total.h"

namespace crvtdec {

CompareOutcome compare_frames(AviInput& avi, MovieSource& movie, std::size_t count) {
  Progress progress(progress_count(count));
  CompareOutcome outcome;
  FrameComparer comparer;
  if (!comparer.begin(avi.width())) return CompareOutcome::failure();
  FrameView frame;
  MovieFrame expected;
  for (std::size_t i = 0; i < count; ++i) {
    if (!avi.next(frame) || !movie.read(i, expected)) return CompareOutcome::failure();
    outcome.difference = comparer.first_difference(frame, expected);
    if (outcome.difference) {
      outcome.frame = i;
      return outcome;
    }
    progress.update(progress_count(i + 1));
  }
  return outcome;
}

int run_compare(const Options& options) {
  const char* avi_name = options.input.c_str();
  const char* movie_name = options.second.c_str();
  AviInput avi;
  if (!avi.open(options.input)) return 1;
  if (avi.bit_depth() != 24) {
    error("%s: a 32-bit Corvath stream cannot be compared with a 24-bit movie", avi_name);
    return 1;
  }
  MovieSource movie;
  if (!movie.open(options.second)) return 1;
  if (movie.width() != avi.width() || movie.height() != avi.height()) {
    std::printf("Frame sizes differ: %s is %d x %d, %s is %d x %d\n", avi_name, avi.width(), avi.height(), movie_name,
                movie.width(), movie.height());
    return 1;
  }
  const std::size_t common = std::min(avi.frame_count(), movie.frame_count());
  const CompareOutcome outcome = compare_frames(avi, movie, common);
  if (outcome.failed) return 1;
  if (const std::optional<Difference>& d = outcome.difference) {
    std::printf("Frame %zu differs at row %d, column %d: R G B %u %u %u in %s, %u %u %u in %s\n", outcome.frame, d->row,
                d->column, unsigned{d->frame_pixel[2]}, unsigned{d->frame_pixel[1]}, unsigned{d->frame_pixel[0]},
                avi_name, unsigned{d->movie_pixel[2]}, unsigned{d->movie_pixel[1]}, unsigned{d->movie_pixel[0]},
                movie_name);
    return 1;
  }
  if (avi.frame_count() != movie.frame_count()) {
    std::printf("Frame counts differ: %s has %zu frames, %s has %zu (the first %zu are identical)\n", avi_name,
                avi.frame_count(), movie_name, movie.frame_count(), common);
    return 1;
  }
  std::printf("%zu frames identical\n", common);
  return avi.complete() ? 0 : 1;
}

}  // namespace crvtdec

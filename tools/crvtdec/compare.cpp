// crvtdec --compare <in.avi> <movie.mov>: proves that a conversion lost
// nothing, frame by frame.
#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "app/progress.h"
#include "crvtdec/compare.h"
#include "crvtdec/frame_stream.h"
#include "crvtdec/messages.h"
#include "crvtdec/modes.h"
#include "crvtdec/progress_total.h"

namespace crvtdec {

namespace {

// A frame of the movie and how the decoded frame compares with it.
struct Compared {
  std::vector<std::uint8_t> stored;
  MovieFrame movie;
  bool read = false;
  std::string why;  // when the movie's frame could not be read
  std::optional<Difference> difference;
};

}  // namespace

CompareOutcome compare_frames(AviInput& avi, MovieSource& movie, std::size_t count, int threads) {
  Progress progress(progress_count(count));
  CompareOutcome outcome;
  // Declared first, so that the workers are stopped before their comparers go.
  std::vector<FrameComparer> comparers;
  FrameStream<Compared> frames(
      avi, count, threads,
      [&](Compared& c) {
        try {
          c.stored.resize(movie.frame_size());
        } catch (const std::bad_alloc&) {
          return error("not enough memory for the frames of %s", movie.name().c_str());
        }
        return true;
      },
      [&](std::size_t i, Compared& c) { c.read = movie.read(i, c.stored, c.movie, c.why); }, nullptr);
  comparers.resize(static_cast<std::size_t>(frames.tools()));
  for (FrameComparer& comparer : comparers) {
    if (!comparer.begin(avi.width())) return CompareOutcome::failure();
  }
  // The AVI's frame first: a frame that does not decode is what counts.
  frames.set_make([&](std::size_t, const FrameView& frame, Compared& c, int tool, std::string& why) {
    if (!c.read) {
      why = c.why;
      return false;
    }
    c.difference = comparers[static_cast<std::size_t>(tool)].first_difference(frame, c.movie);
    return true;
  });
  for (std::size_t i = 0; i < count; ++i) {
    const Compared* c = frames.next();
    if (c == nullptr) return CompareOutcome::failure();
    outcome.difference = c->difference;
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
  const CompareOutcome outcome = compare_frames(avi, movie, common, options.threads);
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

// The frame loop of --compare: decoded frames against the movie's.
#pragma once

#include <cstddef>
#include <optional>

#include "crvtdec/avi_input.h"
#include "crvtdec/frame_compare.h"
#include "crvtdec/movie_source.h"

namespace crvtdec {

struct CompareOutcome {
  bool failed = false;  // a frame could not be had (the message printed)
  std::size_t frame = 0;
  std::optional<Difference> difference;  // of `frame`, when one differs

  static CompareOutcome failure() { return CompareOutcome{true, 0, std::nullopt}; }
};

// Compares the first `count` frames of both, stopping at the first
// that differs, with a progress line that is gone when it returns, so that a
// result can follow.
// Frames are decoded and compared on `threads` threads.
CompareOutcome compare_frames(AviInput& avi, MovieSource& movie, std::size_t count, int threads);

}  // namespace crvtdec

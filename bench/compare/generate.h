// Pictures made here rather than read: photographic, screen-like and noise
// frames of any size.
#pragma once

#include <cstdint>
#include <string>

#include "picture.h"

namespace compare {

// `kind` is one of
//   photo-mosaic  the colour photographs of python3-skimage in a 3 x 2 grid,
//                 each repeated and mirrored at its seams, never scaled (the
//                 codec benchmark's photographic frame)
//   screen        mkmovie's screen content: a desktop with a window of text
//   desktop       the codec benchmark's screen: bars, frames, text strokes and
//                 a few noisy pictures
//   noise         mkmovie's noise content: uniform random bytes
// Returns false with `error` set for an unknown kind or missing photographs.
bool generate(const std::string& kind, int width, int height, std::uint64_t seed, Picture& picture, std::string& error);

}  // namespace compare

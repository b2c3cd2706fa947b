// The frame count as the progress line takes it.
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>

namespace crvtdec {

inline int progress_count(std::size_t frames) { return static_cast<int>(std::min<std::size_t>(frames, INT_MAX)); }

}  // namespace crvtdec

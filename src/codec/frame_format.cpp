#include "codec/frame_format.h"

#include <cstdint>
#include <limits>

#include "entropy/compress.h"

std::size_t max_frame_size(int width, int height, int bit_depth) {
  if (width < 0 || height < 0 || (bit_depth != 24 && bit_depth != 32)) return 0;
  const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  // Planes are coded with 32-bit lengths, and frames carry 32-bit offsets.
  constexpr std::uint64_t kLimit = std::numeric_limits<std::uint32_t>::max();
  if (pixels > kLimit / 4) return 0;
  const std::uint64_t plane = compact_bound(static_cast<std::size_t>(pixels));
  const std::uint64_t size = bit_depth == 24 ? kFull24Header + 3 * plane : kFull32Header + 4 * plane;
  return size <= kLimit ? static_cast<std::size_t>(size) : 0;
}

// Parses any input as an AVI file, OpenDML parts and indexes included, and
// unfinished files salvaged, and reads every frame it finds: the reader must
// fail cleanly or find frames that lie within the input, taking no memory
// beyond what the input's length bounds (run with -malloc_limit_mb=256).
#include "avi/avi_reader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  avi::AviReader reader;
  if (const AviStatus s = reader.open(std::span<const std::uint8_t>(data, size)); !s) {
    if (s.message.empty()) __builtin_trap();
    return 0;
  }
  if (reader.largest_frame() > size) __builtin_trap();
  std::vector<std::uint8_t> frame(reader.largest_frame());
  for (std::size_t i = 0; i < reader.frames().size(); ++i) {
    const avi::Frame& f = reader.frames()[i];
    if (f.offset > size || f.size > size - f.offset) __builtin_trap();
    if (!reader.read_frame(i, frame)) __builtin_trap();
  }
  return 0;
}

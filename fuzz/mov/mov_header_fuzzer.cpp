// read_movie_file on arbitrary files held in memory: both header windows, the
// walk of the top-level atoms, the sample tables and the frame table, which
// must follow the file and never its claims. Each window is exactly what the
// file supplies, so any read past it is caught by AddressSanitizer, and a
// table sized from the claims by the memory limit.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mov/movie_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const MovieReadAt read_at = [&](std::uint64_t offset, unsigned char* out, std::size_t count, std::size_t& got) {
    got = offset > size ? 0 : std::min<std::size_t>(count, size - static_cast<std::size_t>(offset));
    if (got != 0) std::memcpy(out, data + offset, got);
    return true;
  };
  const MovieHeader header = read_movie_file(read_at, size, [](std::string_view) {});
  const mov_info& info = header.info;
  const std::vector<std::int64_t>& frame_offsets = header.frame_offsets;
  const bool ok = header.ok();
  if (!ok && (header.total_frames != 0 || !frame_offsets.empty())) std::abort();
  if (static_cast<std::size_t>(header.total_frames) < frame_offsets.size()) std::abort();
  // As many frames as the file holds side by side, and one more for each
  // chunk offset (at least 4 bytes of the file), as chunks may share frames.
  if (ok && info.frame_bytes != 0 && frame_offsets.size() > size / info.frame_bytes + size / 4) std::abort();
  for (std::int64_t offset : frame_offsets) {
    if (offset < 0 || static_cast<std::uint64_t>(offset) + info.frame_bytes > size) std::abort();
  }
  return 0;
}

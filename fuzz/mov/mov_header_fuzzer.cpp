// read_movie_file on arbitrary files held in memory: both header windows, the
// walk of the top-level atoms, the sample tables and the frame table, which
// must follow the file and never its claims. Each window is exactly what the
// file supplies, so any read past it is caught by AddressSanitizer, and a
// table sized from the claims by the memory limit.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mov/movie_file.h"
#include "mov/sample_tables.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The reader reports on standard output; keep the fuzzer's log readable.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const MovieReadAt read_at = [&](std::uint64_t offset, unsigned char* out, std::size_t count) -> long long {
    if (offset > size) return 0;
    const std::size_t n = std::min<std::size_t>(count, size - static_cast<std::size_t>(offset));
    if (n != 0) std::memcpy(out, data + offset, n);
    return static_cast<long long>(n);
  };
  mov_info info;
  const int ok = read_movie_file(read_at, size, info);
  if (!ok && (total_frames != 0 || !frame_offsets.empty())) std::abort();
  if (static_cast<std::size_t>(total_frames) < frame_offsets.size()) std::abort();
  // As many frames as the file holds side by side, and one more for each
  // chunk offset (at least 4 bytes of the file), as chunks may share frames.
  if (ok && info.frame_bytes != 0 && frame_offsets.size() > size / info.frame_bytes + size / 4) std::abort();
  for (std::int64_t offset : frame_offsets) {
    if (offset < 0 || static_cast<std::uint64_t>(offset) + info.frame_bytes > size) std::abort();
  }
  return 0;
}

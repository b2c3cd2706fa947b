// read_mov_header on arbitrary header windows. The window is exactly the
// input, so any read past it is caught by AddressSanitizer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "mov/movie_header.h"
#include "mov/sample_tables.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The reader reports on standard output; keep the fuzzer's log readable.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > static_cast<std::size_t>(mov_header_window)) return 0;
  std::vector<unsigned char> window(data, data + size);
  mov_info info;
  // Enough frames for any sensible input, few enough for the fuzzer's memory.
  const int ok = read_mov_header(window.data(), static_cast<int>(window.size()), info, 1 << 20);
  if (total_frames != static_cast<int>(frame_offsets.size())) std::abort();
  if (!ok && total_frames != 0) std::abort();
  for (std::int64_t offset : frame_offsets)
    if (offset < 0) std::abort();
  return 0;
}

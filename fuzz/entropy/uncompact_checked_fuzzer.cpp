// The checked uncompact on arbitrary bytes: the first three bytes give the
// plane length (up to 2^20 - 1), the rest is the stream. It must never read
// or write outside the buffers, which are exactly as long as they claim.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "entropy/compress.h"

namespace {

constexpr std::uint32_t kLongestPlane = (1u << 20) - 1;

Compress& coder() {
  static Compress* c = [] {
    auto* made = new Compress;
    made->InitCompressBuffers(kLongestPlane);
    return made;
  }();
  return *c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint32_t length = (data[0] | (data[1] << 8) | (data[2] << 16)) & kLongestPlane;
  const std::vector<unsigned char> stream(data + 3, data + size);
  std::vector<unsigned char> plane(length);
  coder().uncompact_checked(stream.data(), stream.size(), plane.data(), length);
  return 0;
}

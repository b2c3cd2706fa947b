// compact then uncompact, both forms, on planes made from the input: the
// stream must fit compact_bound, restore the plane exactly, and the checked
// form must accept it. The first byte chooses how the bytes become a plane:
// as they are, or with zero runs of the lengths the next bytes give, so that
// every run-length level is reached.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "entropy/compress.h"

namespace {

constexpr std::uint32_t kLongestPlane = 1u << 20;

Compress& coder() {
  static Compress* c = [] {
    auto* made = new Compress;
    made->InitCompressBuffers(kLongestPlane);
    return made;
  }();
  return *c;
}

std::vector<unsigned char> make_plane(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || (data[0] & 1) == 0) return {data + (size > 0 ? 1 : 0), data + size};
  // Pairs (run, byte): `run` * (1 + data[0] / 2) zeros, then the byte.
  const std::size_t scale = 1 + data[0] / 2;
  std::vector<unsigned char> plane;
  for (std::size_t i = 1; i + 1 < size && plane.size() < kLongestPlane / 2; i += 2) {
    plane.insert(plane.end(), data[i] * scale, 0);
    plane.push_back(data[i + 1]);
  }
  if (plane.size() > kLongestPlane) plane.resize(kLongestPlane);
  return plane;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<unsigned char> plane = make_plane(data, size);
  const auto length = static_cast<std::uint32_t>(plane.size());
  std::vector<unsigned char> stream(compact_bound(length));
  const std::uint32_t reported = coder().compact(plane.data(), stream.data(), length);
  if (reported > stream.size() || stream[reported - 1] != 0) std::abort();
  stream.resize(reported - 1);  // only the stored bytes

  std::vector<unsigned char> checked(length);
  if (!coder().uncompact_checked(stream.data(), stream.size(), checked.data(), length)) std::abort();
  if (checked != plane) std::abort();
  std::vector<unsigned char> trusted(length);
  coder().uncompact(stream.data(), trusted.data(), length);
  if (trusted != plane) std::abort();
  return 0;
}

// The checked uncompact on arbitrary bytes: the first three bytes give the
// plane length (up to 2^20 - 1), the rest is the stream. It must never read
// or write outside the buffers, which are exactly as long as they claim.
// The same stream, cut at three lengths, also goes through the joint decoder,
// which must agree with the single one.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "entropy/compress.h"

namespace {

constexpr std::uint32_t kLongestPlane = (1u << 20) - 1;

std::array<Compress, 4>& coders() {
  static auto* c = [] {
    auto* made = new std::array<Compress, 4>;
    for (Compress& coder : *made) coder.InitCompressBuffers(kLongestPlane);
    return made;
  }();
  return *c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint32_t length = (data[0] | (data[1] << 8) | (data[2] << 16)) & kLongestPlane;
  const std::size_t stream_size = size - 3;
  const std::size_t cuts[3] = {stream_size, stream_size - stream_size / 7, stream_size / 2};
  std::array<std::vector<unsigned char>, 3> streams;
  std::array<std::vector<unsigned char>, 3> single;
  std::array<bool, 3> single_ok{};
  for (int k = 0; k < 3; ++k) {
    streams[k].assign(data + 3, data + 3 + cuts[k]);  // exactly as long as it claims
    single[k].resize(length);
    single_ok[k] = coders()[3].uncompact_checked(streams[k].data(), streams[k].size(), single[k].data(), length);
  }
  std::array<std::vector<unsigned char>, 3> joint;
  std::array<PlaneStream, 3> planes;
  for (int k = 0; k < 3; ++k) {
    joint[k].resize(length);
    planes[k] = {streams[k].data(), streams[k].size(), joint[k].data(), length};
  }
  std::array<Compress*, 3> three = {&coders()[0], &coders()[1], &coders()[2]};
  if (uncompact_checked_together(three, planes)) {
    for (int k = 0; k < 3; ++k) {
      if (!single_ok[k] || joint[k] != single[k]) std::abort();
    }
  }
  return 0;
}

// compact then uncompact, both forms, on planes made from the input: the
// stream must fit compact_bound, restore the plane exactly, and the checked
// form must accept it. The first byte chooses how the bytes become a plane:
// as they are, or with zero runs of the lengths the next bytes give, so that
// every run-length level is reached. Planes compacted together must give
// the bytes of separate compact calls.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "entropy/compress.h"

namespace {

constexpr std::uint32_t kLongestPlane = 1u << 20;

std::array<Compress, 3>& coders() {
  static auto* c = [] {
    auto* made = new std::array<Compress, 3>;
    for (Compress& coder : *made) coder.InitCompressBuffers(kLongestPlane);
    return made;
  }();
  return *c;
}

Compress& coder() { return coders()[0]; }

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

  // Three copies decoded together, the first one cut short by a plane of
  // its own: the joint decoder finishes streams at different times.
  const std::vector<unsigned char> empty_stream = {0x00, 0xE3, 0x00, 0x00, 0x00, 0x00, 0x00};
  std::array<std::vector<unsigned char>, 3> joint;
  std::array<PlaneStream, 3> planes;
  for (int k = 0; k < 3; ++k) {
    joint[k].resize(k == 0 ? 0 : length);
    planes[k] = {k == 0 ? empty_stream.data() : stream.data(), k == 0 ? empty_stream.size() : stream.size(),
                 joint[k].data(), k == 0 ? 0 : length};
  }
  std::array<Compress*, 3> three = {&coders()[0], &coders()[1], &coders()[2]};
  if (!uncompact_checked_together(three, planes)) std::abort();
  if (joint[1] != plane || joint[2] != plane) std::abort();

  // The plane, its later half and its first byte compacted together: the
  // bytes of three compact calls one after the other.
  const std::array<PlaneInput, 3> inputs = {PlaneInput{plane.data(), length},
                                            PlaneInput{plane.data() + length / 2, length - length / 2},
                                            PlaneInput{plane.data(), length < 1 ? 0u : 1u}};
  std::vector<unsigned char> separate;
  std::size_t room = 0;
  for (const PlaneInput& in : inputs) {
    std::vector<unsigned char> one(compact_bound(in.length));
    one.resize(coder().compact(in.in, one.data(), in.length));
    separate.insert(separate.end(), one.begin(), one.end());
    room += compact_bound(in.length);
  }
  std::vector<unsigned char> together(room);
  std::array<std::uint32_t, 3> reported_together{};
  if (!compact_together(three, inputs, together.data(), reported_together)) std::abort();
  together.resize(separate.size());
  if (together != separate) std::abort();
  return 0;
}

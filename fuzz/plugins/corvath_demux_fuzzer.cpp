// What the GStreamer plug-in makes of any input beyond the AVI reader: the
// type finder's walk through the header lists, and corvathdemux's checks of
// the stream and the arithmetic of its timestamps and seeks. The stream is
// opened both from memory and through a read function, as the demuxer pulls
// its bytes, and both must agree.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "corvath_probe.h"
#include "corvath_stream.h"

namespace {

// Seek arithmetic for frame `i`: the frame shown at its start is the last
// frame starting then, and decoding starts at a frame that holds a picture.
void check_frame(const gstcorvath::CorvathStream& s, std::size_t i) {
  const std::uint64_t t = s.time(i);
  if (s.time(i + 1) < t) __builtin_trap();
  const std::size_t shown = s.frame_at(t);
  if (shown < i || s.time(shown) > t || (shown + 1 < s.frame_count() && s.time(shown + 1) <= t)) __builtin_trap();
  const std::size_t start = s.decode_start(i);
  if (start > i || (start != 0 && s.frame(start).size == 0)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  gstcorvath::is_corvath_avi([bytes](std::uint64_t offset, std::size_t n) -> const std::uint8_t* {
    return offset <= bytes.size() && n <= bytes.size() - offset ? bytes.data() + offset : nullptr;
  });

  gstcorvath::CorvathStream stream;
  const bool opened = stream.open(bytes);
  gstcorvath::CorvathStream pulled;
  const bool pulled_opened = pulled.open(size, [bytes](std::uint64_t offset, std::span<std::uint8_t> out) {
    if (offset > bytes.size() || out.size() > bytes.size() - offset) __builtin_trap();
    std::memcpy(out.data(), bytes.data() + offset, out.size());
    return true;
  });
  if (opened != pulled_opened || stream.error() != pulled.error()) __builtin_trap();
  if (!opened) {
    if (stream.error().empty()) __builtin_trap();
    return 0;
  }
  if (stream.frame_count() != pulled.frame_count() || stream.rate_numerator() <= 0 || stream.rate_denominator() <= 0 ||
      stream.width() <= 0 || stream.height() <= 0) {
    __builtin_trap();
  }
  for (std::size_t i = 0; i < stream.frame_count(); ++i) {
    const avi::Frame& f = stream.frame(i);
    if (f.offset > size || f.size > size - f.offset || f.offset != pulled.frame(i).offset) __builtin_trap();
    check_frame(stream, i);
  }
  stream.frame_at(UINT64_MAX);
  return 0;
}

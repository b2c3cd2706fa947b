// The frame decoder on arbitrary bytes: byte 0 gives the width and byte 1 the
// height (each 0 to 63), bit 0 of byte 2 the bit depth (24 or 32); the rest
// is a frame, held in a buffer exactly as long. The decoder must never read
// or write outside its buffers. A frame it accepts is decoded again after a
// null frame (which must repeat it), and is re-encoded and decoded, which
// must give it back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codec/codec_inst.h"
#include "codec/frame_decoder.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes current(const FrameDecoder& d) { return Bytes(d.frame().begin(), d.frame().end()); }

void check_round_trip(const Bytes& frame, int width, int height, int pixel_size) {
  CodecInst codec;
  codec.keep_alpha = 1;
  if (codec.CompressBegin(width, height, 8 * pixel_size) != ICERR_OK) std::abort();
  Bytes out(max_frame_size(width, height, 8 * pixel_size));
  ICCOMPRESS record{0, 0, out.data(), frame.data()};
  codec.CompressContinue(&record, 0);
  out.resize(record.dwCompressedSize);
  FrameDecoder decoder;
  if (decoder.Begin(width, height, 8 * pixel_size) != ICERR_OK) std::abort();
  if (decoder.Decode(out) != ICERR_OK || current(decoder) != frame) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int width = data[0] & 63;
  const int height = data[1] & 63;
  const int depth = data[2] & 1 ? 32 : 24;
  const Bytes frame(data + 3, data + size);

  FrameDecoder decoder;
  if (decoder.Begin(width, height, depth) != ICERR_OK) std::abort();
  const Bytes before = current(decoder);
  if (decoder.Decode(frame) != ICERR_OK) {
    if (current(decoder) != before) std::abort();  // a rejected frame changes nothing
    return 0;
  }
  const Bytes decoded = current(decoder);
  if (decoded.size() != static_cast<std::size_t>(width * height * decoder.pixel_size())) std::abort();
  if (decoder.Decode({}) != ICERR_OK || current(decoder) != decoded) std::abort();
  check_round_trip(decoded, width, height, decoder.pixel_size());
  return 0;
}

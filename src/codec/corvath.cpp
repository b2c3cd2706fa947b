// The C API of libcorvath over CodecInst and FrameDecoder. Every argument is
// checked here, before the codec sees it, so that the codec's own contracts
// (room for the largest frame, a whole input frame) always hold.
#include "codec/corvath.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <span>

#include "codec/codec_inst.h"
#include "codec/frame_decoder.h"
#include "codec/frame_format.h"

#ifndef QUELMUX_VERSION
#define QUELMUX_VERSION "unknown"
#endif

struct crvt_encoder {
  CodecInst codec;
  std::size_t frame_size = 0;
  std::size_t bound = 0;
};

struct crvt_decoder {
  FrameDecoder decoder;
  std::size_t frame_size = 0;
};

namespace {

// Whether [a, a + a_size) and [b, b + b_size) share a byte. std::less gives
// a total order over unrelated pointers.
bool overlap(const void* a, std::size_t a_size, const void* b, std::size_t b_size) {
  if (a_size == 0 || b_size == 0) return false;
  const auto* pa = static_cast<const unsigned char*>(a);
  const auto* pb = static_cast<const unsigned char*>(b);
  const std::less<const unsigned char*> before;
  return before(pa, pb + b_size) && before(pb, pa + a_size);
}

// A buffer of `size` bytes may be NULL only when it is empty.
bool missing(const void* buffer, std::size_t size) { return buffer == nullptr && size != 0; }

}  // namespace

extern "C" {

const char* crvt_status_message(crvt_status status) noexcept {
  switch (status) {
    case CRVT_OK: return "ok";
    case CRVT_ERROR_ARGUMENT: return "invalid argument";
    case CRVT_ERROR_GEOMETRY: return "unsupported frame size or bit depth";
    case CRVT_ERROR_MEMORY: return "not enough memory";
    case CRVT_ERROR_BUFFER_TOO_SMALL: return "output buffer too small";
    case CRVT_ERROR_CORRUPT: return "not a valid frame of this stream";
  }
  return "unknown status";
}

const char* crvt_version(void) noexcept { return QUELMUX_VERSION; }

size_t crvt_frame_size(int width, int height, int bit_depth) noexcept {
  if (max_frame_size(width, height, bit_depth) == 0) return 0;
  return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * static_cast<std::size_t>(bit_depth / 8);
}

size_t crvt_encode_bound(int width, int height, int bit_depth) noexcept {
  return max_frame_size(width, height, bit_depth);
}

crvt_status crvt_encoder_create(int width, int height, int bit_depth, unsigned flags, crvt_encoder** encoder) noexcept {
  if (encoder == nullptr) return CRVT_ERROR_ARGUMENT;
  *encoder = nullptr;
  if ((flags & ~CRVT_SKIP_UNCHANGED) != 0) return CRVT_ERROR_ARGUMENT;
  const std::size_t bound = max_frame_size(width, height, bit_depth);
  if (bound == 0) return CRVT_ERROR_GEOMETRY;

  auto* e = new (std::nothrow) crvt_encoder;
  if (e == nullptr) return CRVT_ERROR_MEMORY;
  e->codec.skip_unchanged = (flags & CRVT_SKIP_UNCHANGED) != 0 ? 1 : 0;
  e->codec.keep_alpha = 1;
  const int begun = e->codec.CompressBegin(width, height, bit_depth);
  if (begun != ICERR_OK) {
    delete e;
    return begun == ICERR_MEMORY ? CRVT_ERROR_MEMORY : CRVT_ERROR_GEOMETRY;
  }
  e->frame_size = crvt_frame_size(width, height, bit_depth);
  e->bound = bound;
  *encoder = e;
  return CRVT_OK;
}

void crvt_encoder_destroy(crvt_encoder* encoder) noexcept { delete encoder; }

crvt_status crvt_encode(crvt_encoder* encoder, const void* pixels, size_t pixels_size, void* out, size_t out_capacity,
                        size_t* out_size) noexcept {
  if (encoder == nullptr || out_size == nullptr || out == nullptr) return CRVT_ERROR_ARGUMENT;
  if (pixels_size < encoder->frame_size || missing(pixels, encoder->frame_size)) return CRVT_ERROR_ARGUMENT;
  if (out_capacity < encoder->bound) return CRVT_ERROR_BUFFER_TOO_SMALL;
  // The encoder reads the frame again after writing (to keep it for the
  // unchanged-frame test).
  if (overlap(pixels, encoder->frame_size, out, encoder->bound)) return CRVT_ERROR_ARGUMENT;

  ICCOMPRESS record{};
  record.lpOutput = static_cast<unsigned char*>(out);
  record.lpInput = static_cast<const unsigned char*>(pixels);
  // Begun in crvt_encoder_create, so this cannot fail.
  encoder->codec.CompressContinue(&record, 0);
  *out_size = record.dwCompressedSize;
  return CRVT_OK;
}

crvt_status crvt_decoder_create(int width, int height, int bit_depth, crvt_decoder** decoder) noexcept {
  if (decoder == nullptr) return CRVT_ERROR_ARGUMENT;
  *decoder = nullptr;
  if (max_frame_size(width, height, bit_depth) == 0) return CRVT_ERROR_GEOMETRY;

  auto* d = new (std::nothrow) crvt_decoder;
  if (d == nullptr) return CRVT_ERROR_MEMORY;
  const int begun = d->decoder.Begin(width, height, bit_depth);
  if (begun != ICERR_OK) {
    delete d;
    return begun == ICERR_MEMORY ? CRVT_ERROR_MEMORY : CRVT_ERROR_GEOMETRY;
  }
  d->frame_size = crvt_frame_size(width, height, bit_depth);
  *decoder = d;
  return CRVT_OK;
}

void crvt_decoder_destroy(crvt_decoder* decoder) noexcept { delete decoder; }

crvt_status crvt_decode(crvt_decoder* decoder, const void* data, size_t data_size, void* pixels, size_t pixels_capacity,
                        size_t* pixels_size) noexcept {
  if (decoder == nullptr || pixels_size == nullptr || missing(data, data_size)) return CRVT_ERROR_ARGUMENT;
  if (pixels_capacity < decoder->frame_size) return CRVT_ERROR_BUFFER_TOO_SMALL;
  if (missing(pixels, decoder->frame_size)) return CRVT_ERROR_ARGUMENT;

  const std::span<const unsigned char> frame(static_cast<const unsigned char*>(data), data_size);
  if (decoder->decoder.Decode(frame) != ICERR_OK) return CRVT_ERROR_CORRUPT;
  const std::span<const unsigned char> decoded = decoder->decoder.frame();
  if (!decoded.empty()) std::memcpy(pixels, decoded.data(), decoded.size());
  *pixels_size = decoded.size();
  return CRVT_OK;
}

}  // extern "C"

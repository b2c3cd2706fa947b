#include "codec/codec_inst.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "avi/avi_layout.h"
#include "codec/prediction_planes.h"
#include "entropy/byte_order.h"

namespace {

constexpr std::uint64_t kSlack = 2048;  // behind every frame buffer

std::unique_ptr<unsigned char[]> acquire(std::size_t size) {
  return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[size]);
}

// Whether the n pixels of ps bytes at f all equal pixel 0: one comparison
// of the frame with itself shifted by 8 (or 4) pixels, then those first
// pixels one by one. Frames shorter than the shift take the second step
// alone; an empty frame has no colour.
bool one_colour(const unsigned char* f, std::size_t n, std::size_t ps, std::size_t shift) {
  if (n == 0) return false;
  if (n > shift && std::memcmp(f, f + ps * shift, ps * (n - shift)) != 0) return false;
  const std::size_t head = std::min(n, shift);
  for (std::size_t p = 1; p < head; ++p) {
    if (std::memcmp(f, f + ps * p, ps) != 0) return false;
  }
  return true;
}

}  // namespace

CodecInst::CodecInst() : simd(best_prediction_simd()) {}

CodecInst::~CodecInst() = default;

std::size_t CodecInst::pixels() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(height); }

int CodecInst::CompressBegin(int w, int h, int depth) {
  CompressEnd();
  if (max_frame_size(w, h, depth) == 0) return ICERR_BADFORMAT;
  const std::uint64_t n = static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h);
  const std::uint64_t size =
      depth == 32 || wide_buffers != 0 ? 4 * n + kSlack : 3 * n + 3 * static_cast<std::uint64_t>(h) + kSlack;
  if (size > std::numeric_limits<std::uint32_t>::max()) return ICERR_BADFORMAT;

  width = w;
  height = h;
  bit_depth = depth;
  frame_bytes = static_cast<std::uint32_t>(n * static_cast<std::uint64_t>(depth) >> 3);
  residuals = acquire(size);
  prev_frame = acquire(size);
  // 24-bit frames are predicted and compared where the caller keeps them.
  if (bit_depth == 32) work = acquire(size);
  const std::uint32_t rle_size = bit_depth == 24 ? frame_bytes / 2 : frame_bytes;
  bool acquired = residuals && prev_frame && (bit_depth != 32 || work) && coder.InitCompressBuffers(rle_size) != 0;
  // The other planes' coders need room for one plane each.
  const std::size_t others = depth == 32 ? 3 : 2;
  for (std::size_t k = 0; k < others && acquired; ++k) {
    acquired = plane_coders_[k].InitCompressBuffers(static_cast<std::uint32_t>(n)) != 0;
  }
  if (!acquired) {
    CompressEnd();
    return ICERR_MEMORY;
  }
  std::memset(prev_frame.get(), 128, size);
  prev_current_ = true;
  return ICERR_OK;
}

int CodecInst::CompressEnd() {
  residuals.reset();
  work.reset();
  prev_frame.reset();
  coder.FreeCompressBuffers();
  for (Compress& c : plane_coders_) c.FreeCompressBuffers();
  prev_current_ = false;
  return 0;
}

const unsigned char* CodecInst::loaded_frame() const { return bit_depth == 32 ? work.get() : in_frame; }

void CodecInst::load_dropping_alpha() {
  const std::size_t n = pixels();
  const unsigned char* in = in_frame;
  unsigned char* out = work.get();
  for (std::size_t p = 0; p < n; ++p, in += 4, out += 3) {
    out[0] = in[0];
    out[1] = in[1];
    out[2] = in[2];
  }
}

// The later half first (from a multiple of 16 bytes), then the rest.
bool CodecInst::unchanged() const {
  if (!prev_current_) return false;
  if (frame_bytes == 0) return true;
  const std::uint32_t split = (frame_bytes >> 1) & 0x7FFFFFF0u;
  const unsigned char* a = in_frame;
  const unsigned char* b = prev_frame.get();
  return std::memcmp(a + split, b + split, frame_bytes - split) == 0 && std::memcmp(a, b, split) == 0;
}

void CodecInst::remember_input() {
  prev_current_ = skip_unchanged != 0;
  if (prev_current_ && frame_bytes != 0) std::memcpy(prev_frame.get(), in_frame, frame_bytes);
}

void CodecInst::remember_fill(unsigned char v) {
  prev_current_ = skip_unchanged != 0;
  if (prev_current_) std::memset(prev_frame.get(), v, frame_bytes);
}

void CodecInst::set_frame(ICCOMPRESS* icinfo, std::uint32_t size) {
  icinfo->dwFlags = size != 0 ? AVIIF_KEYFRAME : 0;
  icinfo->dwCompressedSize = size;
}

int CodecInst::CompressContinue(ICCOMPRESS* icinfo, unsigned /*dwSize*/) {
  out_frame = icinfo->lpOutput;
  in_frame = icinfo->lpInput;
  if (!residuals) {
    set_frame(icinfo, 0);
    return ICERR_ERROR;
  }
  if (bit_depth == 32 && keep_alpha != 0) return CompressRGB32(icinfo);
  // The test reads the caller's frame, fourth bytes included, so it can run
  // before the frame is loaded.
  if (skip_unchanged != 0 && unchanged()) {
    set_frame(icinfo, 0);
    return ICERR_OK;
  }
  if (bit_depth == 32) load_dropping_alpha();
  if (SolidFrameTest(icinfo) != 0) return ICERR_OK;
  KeyCompress(icinfo);
  remember_input();
  return ICERR_OK;
}

int CodecInst::FastCompress(ICCOMPRESS* icinfo) {
  if (skip_unchanged != 0 && unchanged()) {
    set_frame(icinfo, 0);
    return 1;
  }
  return SolidFrameTest(icinfo);
}

int CodecInst::SolidFrameTest(ICCOMPRESS* icinfo) {
  const unsigned char* f = loaded_frame();
  if (!one_colour(f, pixels(), 3, 8)) return 0;
  if (f[0] == f[1] && f[0] == f[2]) {
    out_frame[0] = FRAME_GREY;
    out_frame[1] = f[0];
    set_frame(icinfo, 2);
    // At 32 bits the fourth bytes need not be v, and the next unchanged-frame
    // test must see them.
    if (bit_depth == 24) {
      remember_fill(f[0]);
    } else {
      remember_input();
    }
    return 1;
  }
  out_frame[0] = FRAME_FLAT24;
  std::memcpy(out_frame + 1, f, 3);
  set_frame(icinfo, 4);
  remember_input();
  return 1;
}

std::uint32_t CodecInst::write_planes(unsigned char type, std::size_t header, std::size_t count) {
  const auto n = static_cast<std::uint32_t>(pixels());
  out_frame[0] = type;
  constexpr std::size_t kMost = 4;
  Compress* const coders[kMost] = {&coder, &plane_coders_[0], &plane_coders_[1], &plane_coders_[2]};
  std::array<PlaneInput, kMost> planes{};
  for (std::size_t k = 0; k < count; ++k) planes[k] = {residuals.get() + k * n, n};
  std::array<std::uint32_t, kMost> reported{};
  compact_together(std::span(coders, count), std::span(planes.data(), count), out_frame + header,
                   std::span(reported.data(), count));
  // max_frame_size() keeps every offset within 32 bits.
  auto offset = static_cast<std::uint32_t>(header);
  for (std::size_t k = 0; k < count; ++k) {
    offset += reported[k];
    if (k + 1 < count) store_le32(out_frame + 1 + 4 * k, offset);
  }
  return offset;
}

std::uint32_t CodecInst::KeyCompress(ICCOMPRESS* icinfo) {
  const std::size_t n = pixels();
  unsigned char* const planes[3] = {residuals.get(), residuals.get() + n, residuals.get() + 2 * n};
  DeEntropyPlanes(loaded_frame(), planes, width, height, simd);
  const std::uint32_t size = write_planes(FRAME_FULL24, kFull24Header, 3);
  set_frame(icinfo, size);
  return size;
}

int CodecInst::FastCompressRGB32(ICCOMPRESS* icinfo) {
  if (skip_unchanged != 0 && unchanged()) {
    set_frame(icinfo, 0);
    return 1;
  }
  if (!one_colour(in_frame, pixels(), 4, 4)) return 0;
  out_frame[0] = FRAME_FLAT32;
  std::memcpy(out_frame + 1, in_frame, 4);
  set_frame(icinfo, 5);
  remember_input();
  return 1;
}

int CodecInst::CompressRGB32(ICCOMPRESS* icinfo) {
  if (FastCompressRGB32(icinfo) != 0) return 0;
  const std::size_t n = pixels();
  unsigned char* const planes[4] = {residuals.get(), residuals.get() + n, residuals.get() + 2 * n,
                                    residuals.get() + 3 * n};
  DeEntropyPlanes32(in_frame, planes, width, height, simd);
  set_frame(icinfo, write_planes(FRAME_FULL32, kFull32Header, 4));
  remember_input();
  return 0;
}

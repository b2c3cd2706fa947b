#include "codec/frame_decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "codec/frame_format.h"
#include "codec/prediction_inverse.h"
#include "entropy/byte_order.h"

const char* decode_status_message(int status) {
  switch (status) {
    case ICERR_OK: return "ok";
    case ICERR_ERROR: return "the decoder is not set up";
    case ICERR_BADFORMAT: return "unsupported frame size or bit depth";
    case ICERR_MEMORY: return "not enough memory for the decoder";
    case ICERR_UNKNOWNTYPE: return "unknown frame type";
    case ICERR_WRONGDEPTH: return "32-bit frame in a 24-bit stream";
    case ICERR_TRUNCATED: return "frame shorter than its header";
    case ICERR_BADOFFSETS: return "plane offsets outside the frame or out of order";
    case ICERR_BADPLANE: return "damaged plane";
  }
  return "unknown status";
}

FrameDecoder::FrameDecoder() : simd(best_prediction_simd()) {}

FrameDecoder::~FrameDecoder() = default;

int FrameDecoder::Begin(int width, int height, int bit_depth) {
  frame_.reset();
  planes_.reset();
  for (Compress& coder : coders_) coder.FreeCompressBuffers();
  pixel_size_ = 0;
  // The encoder's own limit also keeps every plane length within 32 bits.
  if (max_frame_size(width, height, bit_depth) == 0) return ICERR_BADFORMAT;

  const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const std::size_t bytes = n * static_cast<std::size_t>(bit_depth / 8);
  const std::size_t planes = bit_depth / 8;
  frame_.reset(new (std::nothrow) unsigned char[bytes]);
  planes_.reset(new (std::nothrow) unsigned char[bytes]);
  bool ok = frame_ && planes_;
  for (std::size_t k = 0; ok && k < planes; ++k) {
    ok = coders_[k].InitCompressBuffers(static_cast<std::uint32_t>(n)) != 0;
  }
  if (!ok) {
    frame_.reset();
    planes_.reset();
    for (Compress& coder : coders_) coder.FreeCompressBuffers();
    return ICERR_MEMORY;
  }
  width_ = width;
  height_ = height;
  bit_depth_ = bit_depth;
  pixels_ = n;
  pixel_size_ = bit_depth / 8;
  std::memset(frame_.get(), 128, bytes);
  return ICERR_OK;
}

std::span<const unsigned char> FrameDecoder::frame() const {
  if (!frame_) return {};
  return {frame_.get(), pixels_ * static_cast<std::size_t>(pixel_size_)};
}

// Every pixel of the frame set to `pixel`, doubling the filled part with each
// copy.
void FrameDecoder::fill(const unsigned char* pixel, int pixel_size) {
  const std::size_t total = pixels_ * static_cast<std::size_t>(pixel_size);
  unsigned char* out = frame_.get();
  pixel_size_ = pixel_size;
  if (total == 0) return;
  std::memcpy(out, pixel, static_cast<std::size_t>(pixel_size));
  for (std::size_t done = static_cast<std::size_t>(pixel_size); done < total;) {
    const std::size_t step = std::min(done, total - done);
    std::memcpy(out + done, out, step);
    done += step;
  }
}

int FrameDecoder::Decode(std::span<const unsigned char> frame) {
  if (!frame_) return ICERR_ERROR;
  if (frame.empty()) return ICERR_OK;
  const unsigned char type = frame[0];
  if ((type == FRAME_FULL32 || type == FRAME_FLAT32) && bit_depth_ != 32) {
    return ICERR_WRONGDEPTH;
  }
  switch (type) {
    case FRAME_GREY:
      if (frame.size() < 2) return ICERR_TRUNCATED;
      pixel_size_ = 3;
      if (pixels_ != 0) std::memset(frame_.get(), frame[1], 3 * pixels_);
      break;
    case FRAME_FLAT24:
      if (frame.size() < 4) return ICERR_TRUNCATED;
      fill(frame.data() + 1, 3);
      break;
    case FRAME_FLAT32:
      if (frame.size() < 5) return ICERR_TRUNCATED;
      fill(frame.data() + 1, 4);
      break;
    case FRAME_FULL24: return decode_full(frame, 3);
    case FRAME_FULL32: return decode_full(frame, 4);
    default: return ICERR_UNKNOWNTYPE;
  }
  return ICERR_OK;
}

int FrameDecoder::decode_full(std::span<const unsigned char> frame, std::size_t planes) {
  const std::size_t header = planes == 3 ? kFull24Header : kFull32Header;
  if (frame.size() < header) return ICERR_TRUNCATED;
  // Plane k lies from offset k to offset k + 1, less the byte behind it.
  std::array<std::size_t, 5> offset{};
  offset[0] = header;
  for (std::size_t k = 1; k < planes; ++k) {
    offset[k] = load_le32(frame.data() + 1 + 4 * (k - 1));
  }
  offset[planes] = frame.size();
  for (std::size_t k = 0; k < planes; ++k) {
    if (offset[k + 1] > frame.size() || offset[k + 1] <= offset[k]) return ICERR_BADOFFSETS;
  }

  const auto n = static_cast<std::uint32_t>(pixels_);
  std::array<Compress*, 4> coders{};
  std::array<PlaneStream, 4> streams{};
  std::array<const unsigned char*, 4> residuals{};
  for (std::size_t k = 0; k < planes; ++k) {
    coders[k] = &coders_[k];
    residuals[k] = planes_.get() + k * pixels_;
    streams[k] = {frame.data() + offset[k], offset[k + 1] - offset[k] - 1, planes_.get() + k * pixels_, n};
  }
  if (!uncompact_checked_together(std::span(coders.data(), planes), std::span(streams.data(), planes))) {
    return ICERR_BADPLANE;
  }
  if (planes == 3) {
    ReEntropyPlanes(residuals.data(), frame_.get(), width_, height_, simd);
  } else {
    ReEntropyPlanes32(residuals.data(), frame_.get(), width_, height_, simd);
  }
  pixel_size_ = static_cast<int>(planes);
  return ICERR_OK;
}

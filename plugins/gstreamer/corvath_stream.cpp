#include "corvath_stream.h"

#include <corvath.h>

#include <climits>
#include <numeric>
#include <utility>

namespace gstcorvath {

namespace {

using u128 = unsigned __int128;

// Readers that take frame lengths from "idx1" round them up to 4, and files
// remuxed from what they hand out keep that fill; the decoder ignores it.
constexpr std::uint64_t kFillAfterFrames = 3;

}  // namespace

bool CorvathStream::open(std::uint64_t size, avi::ByteSource::ReadFunction read) {
  if (const AviStatus s = reader_.open(size, std::move(read)); !s) return fail(s.message);
  return check();
}

bool CorvathStream::open(std::span<const std::uint8_t> bytes) {
  if (const AviStatus s = reader_.open(bytes); !s) return fail(s.message);
  return check();
}

bool CorvathStream::fail(std::string message) {
  error_ = std::move(message);
  return false;
}

bool CorvathStream::check() {
  error_.clear();
  const avi::VideoStream& s = reader_.video();
  if (s.compression != avi::fourcc("CRVT")) {
    return fail("the video stream is not Corvath: its format is \"" + avi::to_string(s.compression) + "\"");
  }
  if (s.bit_count != 24 && s.bit_count != 32) {
    return fail("Corvath stream of " + std::to_string(s.bit_count) +
                " bits a pixel: only 24 and 32 bits can be decoded");
  }
  if (s.rate == 0 || s.scale == 0) {
    return fail("invalid frame rate: " + std::to_string(s.rate) + " / " + std::to_string(s.scale));
  }
  // The reader has made sure that the width is positive and that the height,
  // whose sign gives the row order, has a magnitude.
  width_ = s.width;
  bottom_up_ = s.height > 0;
  height_ = bottom_up_ ? s.height : -s.height;
  bit_depth_ = s.bit_count;
  rate_ = s.rate;
  scale_ = s.scale;
  const std::size_t bound = crvt_encode_bound(width_, height_, bit_depth_);
  if (bound == 0 || crvt_frame_size(width_, height_, bit_depth_) > INT_MAX) {
    return fail("frames of " + std::to_string(width_) + " x " + std::to_string(height_) + " pixels are too large");
  }
  for (std::size_t i = 0; i < frame_count(); ++i) {
    if (frame(i).size > bound + kFillAfterFrames) {
      return fail("frame " + std::to_string(i) + " holds " + std::to_string(frame(i).size) +
                  " bytes, more than any Corvath frame of " + std::to_string(width_) + " x " + std::to_string(height_) +
                  " pixels");
    }
  }
  std::uint64_t n = rate_ / std::gcd(rate_, scale_);
  std::uint64_t d = scale_ / std::gcd(rate_, scale_);
  while (n > INT_MAX || d > INT_MAX) {
    n = (n + 1) / 2;
    d = (d + 1) / 2;
  }
  rate_n_ = static_cast<int>(n);
  rate_d_ = static_cast<int>(d);
  return true;
}

std::uint64_t CorvathStream::time(std::size_t i) const {
  const u128 t = u128{i} * scale_ * kSecond / rate_;
  return t > UINT64_MAX ? UINT64_MAX : static_cast<std::uint64_t>(t);
}

// time(i) <= t exactly when i * scale * kSecond < (t + 1) * rate.
std::size_t CorvathStream::frame_at(std::uint64_t t) const {
  if (frame_count() == 0) return 0;
  const u128 i = ((u128{t} + 1) * rate_ - 1) / (u128{scale_} * kSecond);
  return i >= frame_count() ? frame_count() - 1 : static_cast<std::size_t>(i);
}

std::size_t CorvathStream::decode_start(std::size_t k) const {
  while (k > 0 && frame(k).size == 0) --k;
  return k;
}

}  // namespace gstcorvath

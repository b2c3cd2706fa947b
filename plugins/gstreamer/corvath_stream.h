// What corvathdemux knows of a Corvath AVI file: the stream and its frames as
// the AVI reader finds them, checked so that every frame can be handed to a
// decoder of the stream's geometry, and the arithmetic of its timestamps and
// seeks. Nothing here depends on GStreamer, so that tests and the fuzz target
// drive it directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "avi/avi_reader.h"

namespace gstcorvath {

inline constexpr std::uint64_t kSecond = 1'000'000'000;  // nanoseconds, as GStreamer counts time

class CorvathStream {
 public:
  // Parses `size` bytes read through `read`, or `bytes`. False, with error()
  // saying why, for a file that is not an AVI file, or whose first video
  // stream is not Corvath or cannot be decoded.
  bool open(std::uint64_t size, avi::ByteSource::ReadFunction read);
  bool open(std::span<const std::uint8_t> bytes);
  const std::string& error() const { return error_; }
  // Why the file was taken as one its writer never finished (cut short, or
  // its sizes never completed): its whole frames are read. Empty for a
  // complete file.
  const std::string& unfinished() const { return reader_.unfinished(); }

  int width() const { return width_; }
  int height() const { return height_; }
  int bit_depth() const { return bit_depth_; }
  bool bottom_up() const { return bottom_up_; }
  // The frame rate as a fraction of two ints (reduced, and approximated only
  // when a rate of 32-bit units does not fit).
  int rate_numerator() const { return rate_n_; }
  int rate_denominator() const { return rate_d_; }

  std::size_t frame_count() const { return reader_.frames().size(); }
  const avi::Frame& frame(std::size_t i) const { return reader_.frames()[i]; }
  // The size any frame buffer must have: the largest frame, at least 1.
  std::uint32_t largest_frame() const { return reader_.largest_frame(); }

  // Start of frame `i` in nanoseconds; time(frame_count()) is the duration.
  std::uint64_t time(std::size_t i) const;
  std::uint64_t duration() const { return time(frame_count()); }
  // The frame shown at `t`: the last one starting at or before it, at most
  // the last frame (0 when there are none).
  std::size_t frame_at(std::uint64_t t) const;
  // Where decoding starts for frame `k` to come out right: `k` itself, or,
  // when `k` is a null frame that repeats the picture before it, the last
  // frame before it that holds a picture (0 if none does: the stream starts
  // from the decoder's initial picture).
  std::size_t decode_start(std::size_t k) const;

 private:
  bool check();
  bool fail(std::string message);

  avi::AviReader reader_;
  std::string error_;
  int width_ = 0;
  int height_ = 0;
  int bit_depth_ = 24;
  bool bottom_up_ = true;
  std::uint32_t rate_ = 0;   // time units a second
  std::uint32_t scale_ = 0;  // time units a frame
  int rate_n_ = 0;
  int rate_d_ = 1;
};

}  // namespace gstcorvath

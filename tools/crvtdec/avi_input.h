// The AVI file that every mode of crvtdec reads: its video stream checked to
// be one crvtdec takes (Corvath, or uncompressed 24-bit bitmaps) with a sane
// geometry that agrees with the frames, and its frames decoded in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "codec/frame_decoder.h"
#include "crvtdec/frame_view.h"

namespace crvtdec {

enum class StreamKind {
  corvath,       // "CRVT": frames go through the frame decoder
  uncompressed,  // BI_RGB, 24 bits: frames are the bitmaps themselves
};

class AviInput {
 public:
  // Opens and checks the file at `path`; on failure prints why and returns
  // false.
  bool open(const std::string& path);
  // The same for a file held in `bytes`, which must outlive the input;
  // `name` stands for it in messages.
  bool open(std::span<const std::uint8_t> bytes, const std::string& name);

  const std::string& name() const { return name_; }
  const avi::AviReader& reader() const { return reader_; }
  const avi::VideoStream& stream() const { return reader_.video(); }
  StreamKind kind() const { return kind_; }
  int width() const { return width_; }
  int height() const { return height_; }
  // 24, or 32 for a Corvath stream of 4-byte pixels.
  int bit_depth() const { return bit_depth_; }
  bool top_down() const { return top_down_; }
  std::size_t frame_count() const { return reader_.frames().size(); }

  // The first byte of frame `i` as stored, the type of a Corvath frame, or
  // -1 for a frame of no bytes; read without the rest of the frame. On
  // failure prints why and returns false.
  bool stored_type(std::size_t i, int& type);

  // False when the file's writer never finished it: its whole frames are
  // read all the same, and open() has said so.
  bool complete() const { return reader_.unfinished().empty(); }

  // Decodes the next frame into `view`, valid until the following call. The
  // frames come in order, because a Corvath null frame repeats the one
  // before. The buffers and the decoder are set up at the first frame, so
  // that a header's claims cost nothing without frames to back them. On
  // failure prints why, with the frame's number, and returns false.
  bool next(FrameView& view);
  // The number of the frame that next() gives, counted from 0.
  std::size_t position() const { return next_; }

  // next() in two steps, for decoding on several threads. read_stored()
  // reads frame `i` as stored into `chunk` (at least largest_frame() bytes);
  // calls come one at a time. decode() turns it into `view` (valid until
  // `decoder` decodes again) and may run on any thread with its own
  // decoder, begun by begin_decoder(). On failure `why` says what error()
  // would print, and they return false.
  bool read_stored(std::size_t i, std::span<std::uint8_t> chunk, std::string& why);
  bool decode(std::size_t i, std::span<const std::uint8_t> chunk, FrameDecoder& decoder, FrameView& view,
              std::string& why) const;
  // Prints why on failure.
  bool begin_decoder(FrameDecoder& decoder) const;
  std::size_t largest_frame() const { return reader_.largest_frame(); }
  // A Corvath null frame: no bytes, the frame before it again.
  bool null_frame(std::size_t i) const { return kind_ == StreamKind::corvath && reader_.frames()[i].size == 0; }

 private:
  bool check_stream();
  bool check_frames();
  bool set_up();
  bool opened();

  avi::AviReader reader_;
  FrameDecoder decoder_;
  std::vector<std::uint8_t> chunk_;  // takes the largest frame as stored
  std::string name_;
  StreamKind kind_ = StreamKind::corvath;
  int width_ = 0;
  int height_ = 0;
  int bit_depth_ = 24;
  bool top_down_ = false;
  std::size_t stride_ = 0;  // row length of uncompressed frames, fill included
  std::size_t next_ = 0;
  bool set_up_ = false;
};

}  // namespace crvtdec

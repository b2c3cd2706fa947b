#include "crvtdec/avi_input.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "codec/frame_format.h"
#include "crvtdec/messages.h"

namespace crvtdec {

namespace {

// Readers that take frame lengths from "idx1" round them up to 4, and files
// remuxed from what they hand out keep that fill.
constexpr std::uint64_t kFillAfterFrames = 3;

unsigned long long ull(std::uint64_t v) { return static_cast<unsigned long long>(v); }

}  // namespace

bool AviInput::open(const std::string& path) {
  name_ = path;
  // The reader's own message does not say why a file cannot be opened.
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return error("cannot open %s: %s", path.c_str(), std::strerror(errno));
  std::fclose(file);
  if (const AviStatus s = reader_.open(path); !s) return error("%s: %s", name_.c_str(), s.message.c_str());
  return opened();
}

bool AviInput::open(std::span<const std::uint8_t> bytes, const std::string& name) {
  name_ = name;
  if (const AviStatus s = reader_.open(bytes); !s) return error("%s: %s", name_.c_str(), s.message.c_str());
  return opened();
}

bool AviInput::opened() {
  if (!check_stream() || !check_frames()) return false;
  if (!complete()) {
    error("%s was not completed (%s): %zu whole frames found", name_.c_str(), reader_.unfinished().c_str(),
          frame_count());
  }
  return true;
}

bool AviInput::check_stream() {
  const avi::VideoStream& s = reader_.video();
  const char* name = name_.c_str();
  // The reader has made sure that the width is positive and that the
  // height, whose sign gives the row order, has a magnitude.
  width_ = s.width;
  top_down_ = s.height < 0;
  height_ = top_down_ ? -s.height : s.height;
  if (s.compression == avi::fourcc("CRVT")) {
    kind_ = StreamKind::corvath;
    if (s.bit_count != 24 && s.bit_count != 32) {
      return error("%s: Corvath stream of %u bits a pixel: only 24 and 32 bits can be decoded", name,
                   unsigned{s.bit_count});
    }
    bit_depth_ = s.bit_count;
  } else if (s.compression == avi::FourCC{}) {
    kind_ = StreamKind::uncompressed;
    if (s.bit_count != 24) {
      return error("%s: uncompressed stream of %u bits a pixel: only 24-bit bitmaps can be read", name,
                   unsigned{s.bit_count});
    }
    bit_depth_ = 24;
  } else {
    return error(
        "%s: unsupported video format \"%s\": crvtdec reads Corvath (\"CRVT\") and uncompressed "
        "24-bit (\"DIB \") streams",
        name, avi::to_string(s.compression).c_str());
  }
  // Frames of an AVI file are at most INT_MAX bytes long, and the decoder's
  // buffers are sized from the geometry alone.
  const std::uint64_t frame_bytes = std::uint64_t{static_cast<std::uint32_t>(width_)} *
                                    static_cast<std::uint32_t>(height_) * static_cast<unsigned>(bit_depth_ / 8);
  if (frame_bytes > INT_MAX || (kind_ == StreamKind::corvath && max_frame_size(width_, height_, bit_depth_) == 0)) {
    return error("%s: frames of %d x %d pixels are too large", name, width_, height_);
  }
  return true;
}

// The frames are checked against the geometry before anything is acquired
// for them.
bool AviInput::check_frames() {
  const std::span<const avi::Frame> frames = reader_.frames();
  const char* name = name_.c_str();
  if (kind_ == StreamKind::corvath) {
    const std::uint64_t largest = max_frame_size(width_, height_, bit_depth_) + kFillAfterFrames;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      if (frames[i].size > largest) {
        return error("%s: frame %zu holds %u bytes, more than any Corvath frame of %d x %d pixels", name, i,
                     frames[i].size, width_, height_);
      }
    }
    return true;
  }
  // Rows are packed as AviWriter writes them, or filled to 4 bytes as
  // bitmaps have them elsewhere; the first frame tells which.
  const std::size_t packed = 3 * static_cast<std::size_t>(width_);
  const std::size_t filled = (packed + 3) & ~std::size_t{3};
  const auto rows = static_cast<std::uint64_t>(height_);
  stride_ = packed;
  if (!frames.empty() && frames[0].size == filled * rows) stride_ = filled;
  const std::uint64_t expected = stride_ * rows;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (frames[i].size != expected) {
      return error("%s: frame %zu holds %u bytes, a 24-bit bitmap of %d x %d pixels takes %llu", name, i,
                   frames[i].size, width_, height_, ull(expected));
    }
  }
  return true;
}

bool AviInput::stored_type(std::size_t i, int& type) {
  type = -1;
  if (reader_.frames()[i].size == 0) return true;
  std::uint8_t first = 0;
  if (const AviStatus s = reader_.read_frame_start(i, std::span(&first, 1)); !s) {
    return error("%s: %s", name_.c_str(), s.message.c_str());
  }
  type = first;
  return true;
}

bool AviInput::set_up() {
  try {
    chunk_.resize(reader_.largest_frame());
  } catch (const std::bad_alloc&) {
    return error("%s: not enough memory for frames of %u bytes", name_.c_str(), reader_.largest_frame());
  }
  if (!begin_decoder(decoder_)) return false;
  set_up_ = true;
  return true;
}

bool AviInput::begin_decoder(FrameDecoder& decoder) const {
  if (kind_ != StreamKind::corvath) return true;
  const int status = decoder.Begin(width_, height_, bit_depth_);
  if (status == ICERR_OK) return true;
  return error("%s: %s (frames of %d x %d pixels, %d bits)", name_.c_str(), decode_status_message(status), width_,
               height_, bit_depth_);
}

bool AviInput::read_stored(std::size_t i, std::span<std::uint8_t> chunk, std::string& why) {
  if (i >= frame_count()) {
    why = format_message("%s: no frame %zu", name_.c_str(), i);
    return false;
  }
  if (const AviStatus s = reader_.read_frame(i, chunk); !s) {
    why = name_ + ": " + s.message;
    return false;
  }
  return true;
}

bool AviInput::decode(std::size_t i, std::span<const std::uint8_t> chunk, FrameDecoder& decoder, FrameView& view,
                      std::string& why) const {
  view.data = chunk.data();
  view.width = width_;
  view.height = height_;
  view.pixel_size = 3;
  view.stride = stride_;
  view.top_down = top_down_;
  if (kind_ != StreamKind::corvath) return true;
  const int status = decoder.Decode(chunk.first(reader_.frames()[i].size));
  if (status != ICERR_OK) {
    why = format_message("%s: frame %zu does not decode: %s", name_.c_str(), i, decode_status_message(status));
    return false;
  }
  view.data = decoder.frame().data();
  view.pixel_size = decoder.pixel_size();
  view.stride = view.row_bytes();
  return true;
}

bool AviInput::next(FrameView& view) {
  std::string why;
  if (next_ >= frame_count()) return error("%s: no frame %zu", name_.c_str(), next_);
  if (!set_up_ && !set_up()) return false;
  if (!read_stored(next_, chunk_, why) || !decode(next_, chunk_, decoder_, view, why)) return error("%s", why.c_str());
  ++next_;
  return true;
}

}  // namespace crvtdec

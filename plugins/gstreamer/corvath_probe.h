// Recognises a Corvath AVI file from its first bytes, for GStreamer's type
// finding: a RIFF "AVI " file whose first video stream (the one the demuxer
// reads) has the format "CRVT".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace gstcorvath {

// The `size` bytes at `offset`, or null when they cannot be had.
using PeekFunction = std::function<const std::uint8_t*(std::uint64_t offset, std::size_t size)>;

// Walks the RIFF header, LIST "hdrl" and its LIST "strl" lists only as far as
// the first video stream's format. Looks at a bounded number of chunks, so
// that any file is answered quickly; a file it cannot follow is not Corvath.
bool is_corvath_avi(const PeekFunction& peek);

}  // namespace gstcorvath

// Where everything sits in the AVI files that AviWriter writes: the offsets of
// the header fields it fills in and the arithmetic of chunk and file lengths.
// All positions are 64-bit here; the 32-bit limits of the format are checked
// against them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace avi::layout {

// The header area: everything up to and including the "movi" list type.
inline constexpr std::size_t kHeaderSize = 8204;
// flush() rewrites the header up to and including the "movi" list size.
inline constexpr std::size_t kHeaderRewriteSize = 8200;

// Fields set before the first frame.
inline constexpr std::size_t kMicroSecPerFrame = 0x0020;
inline constexpr std::size_t kAvihWidth = 0x0040;
inline constexpr std::size_t kAvihHeight = 0x0044;
inline constexpr std::size_t kHandler = 0x0070;
inline constexpr std::size_t kScale = 0x0080;
inline constexpr std::size_t kRate = 0x0084;
inline constexpr std::size_t kBiWidth = 0x00B0;
inline constexpr std::size_t kBiHeight = 0x00B4;
inline constexpr std::size_t kBiCompression = 0x00BC;
inline constexpr std::size_t kBiSizeImage = 0x00C0;
inline constexpr std::size_t kCredit = 0x1208;
inline constexpr std::size_t kCreditCapacity = 3576;

// Fields completed when the file is finished.
inline constexpr std::size_t kRiffSize = 0x0004;
inline constexpr std::size_t kAvihTotalFrames = 0x0030;
inline constexpr std::size_t kAvihSuggestedBufferSize = 0x003C;
inline constexpr std::size_t kStart = 0x0088;
inline constexpr std::size_t kLength = 0x008C;
inline constexpr std::size_t kStrhSuggestedBufferSize = 0x0090;
inline constexpr std::size_t kMoviSize = 0x2004;

// Index offsets count from the "movi" list type; the first chunk follows it.
inline constexpr std::uint64_t kMoviType = 0x2008;
inline constexpr std::uint64_t kFirstChunk = 0x200C;

inline constexpr std::uint64_t kIndexEntrySize = 16;
inline constexpr std::uint64_t kFileGranule = 1024;
// Every size and offset of the format is a 32-bit field: a file must stay
// below this length.
inline constexpr std::uint64_t kFileLengthLimit = std::uint64_t{1} << 32;

// A frame's data and its zero fill, up to the next multiple of 4.
constexpr std::uint64_t padded(std::uint64_t frame_length) { return (frame_length + 3) & ~std::uint64_t{3}; }

// The whole chunk of a frame: id, size, data and fill.
constexpr std::uint64_t chunk_span(std::uint64_t frame_length) { return 8 + padded(frame_length); }

// The file length E once the closing "JUNK" id ends at `p`: the next multiple
// of 1024 above it (a full 1024 more when `p` is one already).
constexpr std::uint64_t file_end(std::uint64_t p) { return (p + kFileGranule) & ~(kFileGranule - 1); }

// The final file length when the last frame chunk ends at `movi_end` and
// `frames` index entries follow.
constexpr std::uint64_t file_length(std::uint64_t movi_end, std::uint64_t frames) {
  const std::uint64_t index_end = movi_end + 8 + kIndexEntrySize * frames;
  return file_end(index_end + 4);
}

// The final file length of `frames` frames of `frame_length` bytes each.
constexpr std::uint64_t file_length_for(std::uint64_t frames, std::uint64_t frame_length) {
  return file_length(kFirstChunk + frames * chunk_span(frame_length), frames);
}

// Whether a frame of `frame_length` bytes still fits after frame chunks ending
// at `movi_end` and `frames` index entries: the file finished right after it
// (its chunk, one more entry, the closing chunk) stays below the limit.
constexpr bool frame_fits(std::uint64_t movi_end, std::uint64_t frames, std::uint64_t frame_length) {
  return file_length(movi_end + chunk_span(frame_length), frames + 1) < kFileLengthLimit;
}

}  // namespace avi::layout

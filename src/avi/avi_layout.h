// Where everything sits in the AVI files that AviWriter writes: the offsets of
// the header fields it fills in and the arithmetic of chunk and file lengths.
// All positions are 64-bit here; the 32-bit fields of the format are kept
// within range by the part limit.
#pragma once

#include <cstddef>
#include <cstdint>

// The index flag of a frame that decodes by itself, in "idx1" entries (and,
// inverted, in "ix00" ones). The codec reports it with every frame that
// carries bytes, as Video for Windows codecs do.
inline constexpr std::uint32_t AVIIF_KEYFRAME = 0x10;

namespace avi::layout {

// The header area: everything up to and including the "movi" list type.
inline constexpr std::size_t kHeaderSize = 8204;
// flush() rewrites the header up to and including the "movi" list size.
inline constexpr std::size_t kHeaderRewriteSize = 8200;

// Fields set before the first frame.
inline constexpr std::size_t kMicroSecPerFrame = 0x0020;
inline constexpr std::size_t kAvihFlags = 0x002C;  // AVIF_HASINDEX, cleared when no index fits
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

// ---------------------------------------------------------------------------
// Large files (OpenDML). A file stays in the layout above while it, finished,
// is no longer than the part limit. Past that the first RIFF "AVI " is closed
// with "ix00" as the last chunk of its "movi" list and "idx1" behind that list
// (where readers without OpenDML look for it), and the frames go on in RIFF
// "AVIX" parts, each one LIST "movi" ending with its own "ix00". The last part
// also holds the closing "JUNK", so that every file ends at a multiple of 1024.
// The "JUNK" chunk in LIST "strl" becomes the super index "indx".

inline constexpr std::uint64_t kDefaultPartLimit = std::uint64_t{1} << 30;
// The smallest limit still takes the empty file; the largest keeps the first
// RIFF, whose "ix00" may take it past the limit, well below 2 GiB.
inline constexpr std::uint64_t kMinPartLimit = 9216;
inline constexpr std::uint64_t kMaxPartLimit = kDefaultPartLimit;
// The super index has room for this many parts.
inline constexpr std::uint64_t kMaxParts = 256;

// An "AVIX" part opens with "RIFF", its size, "AVIX", "LIST", the "movi" list
// size and "movi".
inline constexpr std::uint64_t kPartHeaderSize = 24;
inline constexpr std::uint64_t kPartRiffSize = 4;
inline constexpr std::uint64_t kPartMoviSize = 16;
inline constexpr std::uint64_t kPartMoviType = 20;

// "ix00": chunk header and 24 bytes of fields, then 8 bytes a frame.
inline constexpr std::uint64_t kStdIndexHeaderSize = 32;
inline constexpr std::uint64_t kStdIndexEntrySize = 8;

// The super index chunk of LIST "strl" (its header included), its entries.
inline constexpr std::size_t kSuperIndex = 0x00D4;
inline constexpr std::size_t kSuperIndexChunkSize = 8 + 4120;
inline constexpr std::size_t kSuperIndexHeaderSize = 8 + 24;
inline constexpr std::size_t kSuperIndexEntrySize = 16;
static_assert(kSuperIndexHeaderSize + kMaxParts * kSuperIndexEntrySize == kSuperIndexChunkSize);
inline constexpr std::size_t kDmlhTotalFrames = 0x1108;

constexpr std::uint64_t clamp_part_limit(std::uint64_t limit) {
  return limit < kMinPartLimit ? kMinPartLimit : limit > kMaxPartLimit ? kMaxPartLimit : limit;
}

constexpr std::uint64_t std_index_size(std::uint64_t frames) {
  return kStdIndexHeaderSize + kStdIndexEntrySize * frames;
}

// Whether the first part, with frame chunks ending at `movi_end` and
// `frames` frames, finished as a whole file of the layout above, is at most
// `limit` bytes long.
constexpr bool first_part_fits(std::uint64_t movi_end, std::uint64_t frames, std::uint64_t limit) {
  return file_length(movi_end, frames) <= limit;
}

// The end of an "AVIX" part with frame chunks ending at `movi_end` and
// `frames` frames when it is the file's last: its "ix00", then the closing
// "JUNK".
constexpr std::uint64_t last_part_end(std::uint64_t movi_end, std::uint64_t frames) {
  return file_end(movi_end + std_index_size(frames) + 4);
}

// Whether that part, opened at `start`, is at most `limit` bytes long. As the
// file's last part it is at its longest.
constexpr bool part_fits(std::uint64_t start, std::uint64_t movi_end, std::uint64_t frames, std::uint64_t limit) {
  return last_part_end(movi_end, frames) - start <= limit;
}

// The longest frame that fits alone in the first part (8244 bytes less than
// the limit rounded down to 1024). An empty "AVIX" part takes it too.
constexpr std::uint64_t max_frame_length(std::uint64_t limit) {
  return (limit & ~(kFileGranule - 1)) - (kFirstChunk + 8 + 8 + kIndexEntrySize + 8);
}
static_assert(first_part_fits(kFirstChunk + chunk_span(max_frame_length(kMinPartLimit)), 1, kMinPartLimit));
static_assert(!first_part_fits(kFirstChunk + chunk_span(max_frame_length(kMinPartLimit) + 1), 1, kMinPartLimit));
static_assert(part_fits(0, kPartHeaderSize + chunk_span(max_frame_length(kMinPartLimit)), 1, kMinPartLimit));

// How a file of equal frames splits into parts.
struct PartPlan {
  std::uint64_t parts = 0;  // 0: no file can take the frames
  std::uint64_t first_part_frames = 0;
  std::uint64_t file_length = 0;
};

namespace detail {
// The largest n in [0, most] for which fits(n) holds; fits is monotone and
// holds for 0.
template <class Fits>
constexpr std::uint64_t most_that_fit(std::uint64_t most, Fits fits) {
  std::uint64_t low = 0;
  std::uint64_t high = most;
  while (low < high) {
    const std::uint64_t mid = low + (high - low + 1) / 2;
    if (fits(mid)) {
      low = mid;
    } else {
      high = mid - 1;
    }
  }
  return low;
}
}  // namespace detail

// The parts that a writer with `limit` (within its bounds) makes of `frames`
// frames of `frame_length` bytes each, filling every part before it opens
// the next, at most kMaxParts parts and `max_frames` frames.
constexpr PartPlan plan_parts(std::uint64_t frames, std::uint64_t frame_length, std::uint64_t limit,
                              std::uint64_t max_frames) {
  if (frames > max_frames || (frames > 0 && frame_length > max_frame_length(limit))) return {};
  const std::uint64_t chunk = chunk_span(frame_length);
  // Every frame takes at least 8 bytes of a part: no part holds more.
  const std::uint64_t per_part = limit / 8;
  std::uint64_t n = detail::most_that_fit(frames < per_part ? frames : per_part, [&](std::uint64_t k) {
    return first_part_fits(kFirstChunk + k * chunk, k, limit);
  });
  PartPlan plan{1, n, file_length(kFirstChunk + n * chunk, n)};
  if (n == frames) return plan;
  std::uint64_t left = frames - n;
  std::uint64_t start = kFirstChunk + n * chunk + std_index_size(n) + 8 + kIndexEntrySize * n;
  while (plan.parts < kMaxParts) {
    ++plan.parts;
    const std::uint64_t movi = start + kPartHeaderSize;
    n = detail::most_that_fit(left < per_part ? left : per_part,
                              [&](std::uint64_t k) { return part_fits(start, movi + k * chunk, k, limit); });
    left -= n;
    if (left == 0) {
      plan.file_length = last_part_end(movi + n * chunk, n);
      return plan;
    }
    start = movi + n * chunk + std_index_size(n);
  }
  return {};
}

}  // namespace avi::layout

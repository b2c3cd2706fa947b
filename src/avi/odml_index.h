// The OpenDML indexes of large AVI files: the standard index "ix00" at the end
// of each part's "movi" list, and the super index "indx" in LIST "strl" that
// points at them. Fields are little-endian, as everywhere in the file.
#pragma once

#include "avi/avi_layout.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace avi::odml {

// bIndexType
inline constexpr std::uint8_t kIndexOfIndexes = 0;  // AVI_INDEX_OF_INDEXES
inline constexpr std::uint8_t kIndexOfChunks = 1;   // AVI_INDEX_OF_CHUNKS
// Set in a standard index entry's dwSize for a frame that is not a key frame.
inline constexpr std::uint32_t kNotKeyFrame = 0x80000000u;

// One entry of a standard index, in file byte order: where the frame data
// lies from the index's base offset, and its exact length.
struct StdIndexEntry {
  std::uint32_t dwOffset;
  std::uint32_t dwSize;
};
static_assert(sizeof(StdIndexEntry) == layout::kStdIndexEntrySize);

StdIndexEntry std_index_entry(std::uint64_t data_offset_from_base, std::uint32_t length, bool key_frame);

// The 32 bytes of an "ix00" chunk that come before its `entries` entries:
// chunk id and size, wLongsPerEntry 2, bIndexSubType 0, bIndexType 1,
// nEntriesInUse, dwChunkId "00dc", qwBaseOffset, dwReserved.
void put_std_index_header(std::span<unsigned char, layout::kStdIndexHeaderSize> out, std::uint32_t entries,
                          std::uint64_t base_offset);

// One part as the super index lists it: its "ix00" chunk and frame count.
struct SuperIndexEntry {
  std::uint64_t offset = 0;  // of the "ix00" chunk header
  std::uint32_t size = 0;    // of the whole "ix00" chunk
  std::uint32_t frames = 0;
};

// The whole "indx" chunk (4128 bytes) for up to kMaxParts parts: wLongsPerEntry
// 4, bIndexSubType 0, bIndexType 0, nEntriesInUse, dwChunkId "00dc", then one
// entry per part and zeros for the unused ones.
void put_super_index(std::span<unsigned char, layout::kSuperIndexChunkSize> out,
                     std::span<const SuperIndexEntry> parts);

}  // namespace avi::odml

#include "avi/odml_index.h"

#include "entropy/byte_order.h"

#include <cstring>

namespace avi::odml {

StdIndexEntry std_index_entry(std::uint64_t data_offset_from_base, std::uint32_t length, bool key_frame) {
  return {to_avi_edian_l(static_cast<std::uint32_t>(data_offset_from_base)),
          to_avi_edian_l(key_frame ? length : length | kNotKeyFrame)};
}

void put_std_index_header(std::span<unsigned char, layout::kStdIndexHeaderSize> out, std::uint32_t entries,
                          std::uint64_t base_offset) {
  unsigned char* h = out.data();
  std::memcpy(h, "ix00", 4);
  store_le32(h + 4, static_cast<std::uint32_t>(layout::kStdIndexHeaderSize - 8 + layout::kStdIndexEntrySize * entries));
  store_le16(h + 8, 2);  // wLongsPerEntry
  h[10] = 0;             // bIndexSubType
  h[11] = kIndexOfChunks;
  store_le32(h + 12, entries);
  std::memcpy(h + 16, "00dc", 4);
  store_le64(h + 20, base_offset);
  store_le32(h + 28, 0);  // dwReserved
}

void put_super_index(std::span<unsigned char, layout::kSuperIndexChunkSize> out,
                     std::span<const SuperIndexEntry> parts) {
  unsigned char* h = out.data();
  std::memset(h, 0, out.size());
  std::memcpy(h, "indx", 4);
  store_le32(h + 4, static_cast<std::uint32_t>(layout::kSuperIndexChunkSize - 8));
  store_le16(h + 8, 4);  // wLongsPerEntry
  h[10] = 0;             // bIndexSubType
  h[11] = kIndexOfIndexes;
  store_le32(h + 12, static_cast<std::uint32_t>(parts.size()));
  std::memcpy(h + 16, "00dc", 4);
  // dwReserved[3] stay zero.
  unsigned char* entry = h + layout::kSuperIndexHeaderSize;
  for (std::size_t i = 0; i < parts.size() && i < layout::kMaxParts; ++i) {
    store_le64(entry, parts[i].offset);
    store_le32(entry + 8, parts[i].size);
    store_le32(entry + 12, parts[i].frames);
    entry += layout::kSuperIndexEntrySize;
  }
}

}  // namespace avi::odml

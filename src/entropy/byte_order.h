// The byte orders of the files the project reads and writes, whatever the
// host's: QuickTime fields are big-endian, AVI fields and the codec's frame
// and stream headers little-endian. Every library reads and writes its
// multi-byte fields through these; none needs aligned bytes.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

inline std::uint16_t load_le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

inline std::uint32_t load_le32(const unsigned char* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

inline std::uint64_t load_le64(const unsigned char* p) { return load_le32(p) | std::uint64_t{load_le32(p + 4)} << 32; }

inline std::uint32_t load_be32(const unsigned char* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | std::uint32_t{p[3]};
}

inline std::uint64_t load_be64(const unsigned char* p) { return std::uint64_t{load_be32(p)} << 32 | load_be32(p + 4); }

inline void store_le16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

inline void store_le32(unsigned char* p, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<unsigned char>(v >> (8 * k));
}

inline void store_le64(unsigned char* p, std::uint64_t v) {
  store_le32(p, static_cast<std::uint32_t>(v));
  store_le32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

// The 32-bit word whose bytes in memory are `value` in little-endian order:
// the form in which the AVI writer keeps its index entries, so that they
// leave in one write.
constexpr std::uint32_t to_avi_edian_l(std::uint32_t value) {
  if constexpr (std::endian::native == std::endian::little) {
    return value;
  } else {
    return (value << 24) + ((value << 8) & 0xFF0000u) + ((value >> 8) & 0xFF00u) + (value >> 24);
  }
}

// `value` is a 32-bit field of the movie copied as it stands into a host word.
// Returns the number formed by the field's first two bytes in file order, most
// significant first: the integer part of a 16.16 fixed-point field.
inline std::uint16_t from_mov_edian_s(unsigned long value) {
  // Only the word's bytes in memory order count, so this holds on any host.
  const auto word = static_cast<std::uint32_t>(value);
  unsigned char bytes[4];
  std::memcpy(bytes, &word, sizeof bytes);
  return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

// Converts `count` 32-bit words of `block` in place from the movie's byte order
// to the host's. `block` need not be aligned; a count of 0 or less does nothing.
inline void from_mov_edian_l_block(void* block, int count) {
  if constexpr (std::endian::native == std::endian::big) return;
  auto* bytes = static_cast<unsigned char*>(block);
  for (int i = 0; i < count; ++i, bytes += 4) {
    const std::uint32_t word = load_be32(bytes);
    std::memcpy(bytes, &word, sizeof word);
  }
}

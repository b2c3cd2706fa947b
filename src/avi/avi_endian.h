// Little-endian integers of the AVI file, independent of the host's byte order.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

// The 32-bit word whose bytes in memory are `value` in little-endian order.
constexpr std::uint32_t to_avi_edian_l(std::uint32_t value) {
  if constexpr (std::endian::native == std::endian::little) {
    return value;
  } else {
    return (value << 24) + ((value << 8) & 0xFF0000u) + ((value >> 8) & 0xFF00u) + (value >> 24);
  }
}

namespace avi {

inline void put_u32(unsigned char* at, std::uint32_t value) {
  const std::uint32_t le = to_avi_edian_l(value);
  std::memcpy(at, &le, 4);
}

inline void put_u64(unsigned char* at, std::uint64_t value) {
  put_u32(at, static_cast<std::uint32_t>(value));
  put_u32(at + 4, static_cast<std::uint32_t>(value >> 32));
}

inline void put_u16(unsigned char* at, std::uint16_t value) {
  at[0] = static_cast<unsigned char>(value);
  at[1] = static_cast<unsigned char>(value >> 8);
}

inline std::uint32_t get_u32(const unsigned char* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

inline std::uint64_t get_u64(const unsigned char* at) {
  return static_cast<std::uint64_t>(get_u32(at)) | static_cast<std::uint64_t>(get_u32(at + 4)) << 32;
}

inline std::uint16_t get_u16(const unsigned char* at) {
  return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

}  // namespace avi

// Conversion of the movie's big-endian fields into host values.
#pragma once

#include <cstdint>

// `value` is a 32-bit field of the movie copied as it stands into a host word.
// Returns the number formed by the field's first two bytes in file order, most
// significant first: the integer part of a 16.16 fixed-point field.
std::uint16_t from_mov_edian_s(unsigned long value);

// Converts `count` 32-bit words of `block` in place from the movie's byte order
// to the host's. `block` need not be aligned; a count of 0 or less does nothing.
void from_mov_edian_l_block(void* block, int count);

// The big-endian 32-bit number at `bytes`.
inline std::uint32_t load_be32(const unsigned char* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

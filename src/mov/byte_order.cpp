#include "mov/byte_order.h"

#include <bit>
#include <cstring>

std::uint16_t from_mov_edian_s(unsigned long value) {
  // Only the word's bytes in memory order count, so this holds on any host.
  const auto word = static_cast<std::uint32_t>(value);
  unsigned char bytes[4];
  std::memcpy(bytes, &word, sizeof bytes);
  return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

void from_mov_edian_l_block(void* block, int count) {
  if constexpr (std::endian::native == std::endian::big) return;
  auto* bytes = static_cast<unsigned char*>(block);
  for (int i = 0; i < count; ++i, bytes += 4) {
    const std::uint32_t word = load_be32(bytes);
    std::memcpy(bytes, &word, sizeof word);
  }
}

// The static order-0 model of one buffer: byte counts, and their scaling to a
// power-of-two total. Writer and reader must derive bit-identical tables from
// the same counts, so the scaling arithmetic is part of the stream format.
#pragma once

#include <cstdint>
#include <span>

namespace entropy {

// Largest table total: beyond it the coder's unit range >> shift could be 0.
inline constexpr std::uint32_t kMaxTotal = 1u << 23;
inline constexpr std::uint32_t kMaxShift = 23;

// Adds the count of every byte value of `in` to `counts` (which the caller
// clears).
void count_bytes(std::span<const unsigned char> in, std::span<std::uint32_t, 256> counts);

// Turns cum[1..256], which hold the counts of a buffer of `length` bytes (the
// sum of the counts), into the cumulative scaled table: cum[0] = 0 and
// cum[256] = T, the smallest power of two >= length, capped at 2^23. Returns
// log2 T. An empty buffer gives an all-zero table and 0.
std::uint32_t scale_counts(std::span<std::uint32_t, 257> cum, std::uint64_t length);

}  // namespace entropy

// A literal, slow model of the coder's algorithms as the format defines them
// (held-back byte and pending count, binary search, unit-by-unit cycle), to
// check the fast implementation against.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace reference {

struct Table {
  std::array<std::uint32_t, 257> cum{};
  std::uint32_t shift = 0;
};

// Scales the counts of a buffer whose length is their sum.
Table scale(const std::array<std::uint32_t, 256>& counts);
Table table_of(const std::vector<unsigned char>& in);

std::vector<unsigned char> encode(const std::vector<unsigned char>& in, const Table& table);
std::vector<unsigned char> decode(const std::vector<unsigned char>& coded, std::uint32_t length,
                                  const Table& table);

}  // namespace reference

// A literal, slow model of the scaling and the range coder as the format
// defines them (unit-by-unit cycle, held-back byte and pending count), to
// check the fast implementation against. The decoders are checked by round
// trips of the model's bytes.
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

}  // namespace reference

#include "reference_coder.h"

namespace reference {

namespace {

// The cycle of the missing units, over 0..127, or over all values when none
// of 0..127 has a frequency.
void cycle(std::array<std::uint32_t, 257>& cum, std::int64_t d) {
  bool low_half = false;
  for (int s = 0; s < 128; ++s) low_half = low_half || cum[s + 1] != 0;
  const unsigned wrap = low_half ? 127 : 255;
  unsigned j = 0;
  while (d > 0) {
    if (cum[j + 1] != 0) {
      ++cum[j + 1];
      --d;
    }
    j = (j + 1) & wrap;
  }
}

}  // namespace

Table scale(const std::array<std::uint32_t, 256>& counts) {
  Table t;
  std::uint64_t length = 0;
  for (int s = 0; s < 256; ++s) {
    t.cum[s + 1] = counts[s];
    length += counts[s];
  }
  if (length == 0) return t;
  if (length <= (1u << 23)) {
    std::uint32_t total = 1;
    while (total < length) total *= 2;
    const float ratio = static_cast<float>(total) / static_cast<float>(length);
    std::uint32_t sum = 0;
    for (int s = 0; s < 256; ++s) {
      t.cum[s + 1] = static_cast<std::uint32_t>(static_cast<double>(t.cum[s + 1]) * static_cast<double>(ratio));
      sum += t.cum[s + 1];
    }
    const std::int32_t d = static_cast<std::int32_t>(total - sum);
    if (d < 0) t.cum[1] += static_cast<std::uint32_t>(d);
    if (d > 0) cycle(t.cum, d);
    while ((1u << t.shift) < total) ++t.shift;
  } else {
    const std::uint64_t total = 1u << 23;
    std::int64_t sum = 0;
    for (int s = 0; s < 256; ++s) {
      if (t.cum[s + 1] == 0) continue;
      std::uint64_t f = std::uint64_t{t.cum[s + 1]} * total / length;
      if (f == 0) f = 1;
      t.cum[s + 1] = static_cast<std::uint32_t>(f);
      sum += static_cast<std::int64_t>(f);
    }
    const std::int64_t d = static_cast<std::int64_t>(total) - sum;
    if (d > 0) cycle(t.cum, d);
    if (d < 0) {
      int largest = 0;
      for (int s = 1; s < 256; ++s) {
        if (t.cum[s + 1] > t.cum[largest + 1]) largest = s;
      }
      t.cum[largest + 1] -= static_cast<std::uint32_t>(-d);
    }
    t.shift = 23;
  }
  for (int k = 1; k <= 256; ++k) t.cum[k] += t.cum[k - 1];
  return t;
}

Table table_of(const std::vector<unsigned char>& in) {
  std::array<std::uint32_t, 256> counts{};
  for (unsigned char b : in) ++counts[b];
  return scale(counts);
}

std::vector<unsigned char> encode(const std::vector<unsigned char>& in, const Table& table) {
  std::vector<unsigned char> out;
  std::uint32_t low = 0;
  std::uint32_t range = 0x80000000u;
  unsigned char held = 0;
  std::uint32_t pending = 0;
  for (unsigned char s : in) {
    const std::uint32_t r = range >> table.shift;
    const std::uint32_t t = r * table.cum[s];
    low += t;
    range -= t;
    if (s != 255) range = r * (table.cum[s + 1] - table.cum[s]);
    while (range <= 0x800000u) {
      if (low <= 0x7F7FFFFFu) {
        out.push_back(held);
        for (; pending > 0; --pending) out.push_back(0xFF);
        held = static_cast<unsigned char>(low >> 23);
      } else if ((low & 0x80000000u) != 0) {
        out.push_back(static_cast<unsigned char>(held + 1));
        for (; pending > 0; --pending) out.push_back(0x00);
        held = static_cast<unsigned char>(low >> 23);
      } else {
        ++pending;
      }
      range <<= 8;
      low = (low << 8) & 0x7FFFFF00u;
    }
  }
  if ((low >> 23) > 0xFF) {
    out.push_back(static_cast<unsigned char>(held + 1));
    for (; pending > 0; --pending) out.push_back(0x00);
  } else {
    out.push_back(held);
    for (; pending > 0; --pending) out.push_back(0xFF);
  }
  out.push_back(static_cast<unsigned char>(low >> 23));
  out.push_back(static_cast<unsigned char>(low >> 15));
  out.push_back(static_cast<unsigned char>(low >> 7));
  out.push_back(static_cast<unsigned char>(low << 1));
  return out;
}

}  // namespace reference

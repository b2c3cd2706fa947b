#include "entropy/frequency_table.h"

#include <array>
#include <cstring>

namespace entropy {

void count_bytes(std::span<const unsigned char> in, std::span<std::uint32_t, 256> counts) {
  const unsigned char* p = in.data();
  std::size_t n = in.size();
  if (n < 1024) {
    for (std::size_t i = 0; i < n; ++i) ++counts[p[i]];
    return;
  }
  // Four tables, so that repeated byte values do not serialise on one
  // counter's store-to-load chain.
  std::array<std::array<std::uint32_t, 256>, 4> part{};
  while (n >= 16) {
    std::uint64_t a;
    std::uint64_t b;
    std::memcpy(&a, p, 8);
    std::memcpy(&b, p + 8, 8);
    for (int k = 0; k < 8; k += 4) {
      ++part[0][(a >> (8 * k)) & 0xFF];
      ++part[1][(a >> (8 * k + 8)) & 0xFF];
      ++part[2][(a >> (8 * k + 16)) & 0xFF];
      ++part[3][(a >> (8 * k + 24)) & 0xFF];
      ++part[0][(b >> (8 * k)) & 0xFF];
      ++part[1][(b >> (8 * k + 8)) & 0xFF];
      ++part[2][(b >> (8 * k + 16)) & 0xFF];
      ++part[3][(b >> (8 * k + 24)) & 0xFF];
    }
    p += 16;
    n -= 16;
  }
  while (n > 0) {
    ++part[0][*p++];
    --n;
  }
  for (int s = 0; s < 256; ++s) counts[s] += part[0][s] + part[1][s] + part[2][s] + part[3][s];
}

namespace {

// Hands out d missing units one at a time, cycling over the byte values that
// already have a frequency: values 0 to 127 only, or all 256 values when none
// of 0 to 127 has one. A full turn of the cycle gives each such value one
// unit, so the result is computed per value instead of unit by unit.
void hand_out_units(std::uint32_t* freq, std::uint32_t d) {
  std::array<std::uint8_t, 256> members;
  unsigned count = 0;
  for (unsigned s = 0; s < 128; ++s) {
    if (freq[s] != 0) members[count++] = static_cast<std::uint8_t>(s);
  }
  if (count == 0) {
    for (unsigned s = 128; s < 256; ++s) {
      if (freq[s] != 0) members[count++] = static_cast<std::uint8_t>(s);
    }
  }
  if (count == 0) return;  // no value occurs: only an empty buffer, handled by the caller
  const std::uint32_t turns = d / count;
  const std::uint32_t rest = d % count;
  for (unsigned k = 0; k < count; ++k) freq[members[k]] += turns + (k < rest ? 1 : 0);
}

// Scaling of a buffer of at most 2^23 bytes: a single-precision ratio, a
// double-precision product truncated toward zero.
void scale_small(std::uint32_t* freq, std::uint32_t length, std::uint32_t total) {
  const float ratio = static_cast<float>(total) / static_cast<float>(length);
  std::uint32_t sum = 0;
  for (int s = 0; s < 256; ++s) {
    freq[s] = static_cast<std::uint32_t>(static_cast<double>(freq[s]) * static_cast<double>(ratio));
    sum += freq[s];
  }
  const std::int32_t d = static_cast<std::int32_t>(total - sum);
  if (d < 0) {
    freq[0] += static_cast<std::uint32_t>(d);  // cannot happen within 2^23; kept as the format says
  } else if (d > 0) {
    hand_out_units(freq, static_cast<std::uint32_t>(d));
  }
}

// Scaling of a longer buffer to T = 2^23: exact integer shares, at least 1 for
// every value that occurs; an excess is taken from the largest frequency.
void scale_large(std::uint32_t* freq, std::uint64_t length) {
  std::uint64_t sum = 0;
  for (int s = 0; s < 256; ++s) {
    if (freq[s] == 0) continue;
    const std::uint64_t share = std::uint64_t{freq[s]} * kMaxTotal / length;
    freq[s] = share == 0 ? 1 : static_cast<std::uint32_t>(share);
    sum += freq[s];
  }
  if (sum < kMaxTotal) {
    hand_out_units(freq, static_cast<std::uint32_t>(kMaxTotal - sum));
  } else if (sum > kMaxTotal) {
    int largest = 0;
    for (int s = 1; s < 256; ++s) {
      if (freq[s] > freq[largest]) largest = s;
    }
    // At most 256 units were added by the raise to 1, and the largest share
    // holds at least 2^23 / 256 of them.
    freq[largest] -= static_cast<std::uint32_t>(sum - kMaxTotal);
  }
}

}  // namespace

std::uint32_t scale_counts(std::span<std::uint32_t, 257> cum, std::uint64_t length) {
  cum[0] = 0;
  std::uint32_t* freq = cum.data() + 1;
  std::uint32_t shift = 0;
  if (length == 0) {
    std::memset(freq, 0, 256 * sizeof(std::uint32_t));
  } else if (length <= kMaxTotal) {
    while ((std::uint64_t{1} << shift) < length) ++shift;
    scale_small(freq, static_cast<std::uint32_t>(length), 1u << shift);
  } else {
    shift = kMaxShift;
    scale_large(freq, length);
  }
  for (int k = 1; k <= 256; ++k) cum[k] += cum[k - 1];
  return shift;
}

}  // namespace entropy

// The byte-wise 32-bit range coder of the compacted stream, against a
// cumulative frequency table cum[0..256] with cum[256] = 2^shift.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace entropy {

// Codes `length` bytes and returns the number of bytes written, E. The
// output must have room for E bytes: 5 plus one per renormalisation, which
// is at most compact's coder allowance (see compact_bound). Nothing is
// written beyond the E bytes.
std::uint32_t range_encode(const unsigned char* in, std::uint32_t length, const std::uint32_t* cum,
                           std::uint32_t shift, unsigned char* out);

// Symbol of every slice of the table total, so that the decoder finds a byte
// value with one lookup and rarely a step or two, instead of a binary search.
// It gives exactly the binary search's answer. Built from a table by build().
class SymbolIndex {
 public:
  static constexpr std::uint32_t kSliceBits = 12;

  void build(const std::uint32_t* cum, std::uint32_t shift);

  // The largest s with cum[s] <= t, for t < cum[256].
  std::uint32_t symbol(const std::uint32_t* cum, std::uint32_t t) const {
    std::uint32_t s = slice_[t >> slice_shift_];
    while (cum[s + 1] <= t) ++s;
    return s;
  }

 private:
  std::uint32_t slice_shift_ = 0;
  std::array<std::uint8_t, std::size_t{1} << kSliceBits> slice_{};
};

// Decodes `length` bytes. `in` is the coded data including its ignored first
// byte. Trusts its input: reads exactly the bytes a valid coding holds.
// `index` must have been built from the same table.
void range_decode(const unsigned char* in, unsigned char* out, std::uint32_t length,
                  const std::uint32_t* cum, std::uint32_t shift, const SymbolIndex& index);

// range_decode for untrusted input: reads at most `available` bytes of `in`
// and returns false when the coding would need more, or selects a byte value
// that the table does not hold. Valid codings decode exactly as above.
bool range_decode_checked(const unsigned char* in, std::size_t available, unsigned char* out,
                          std::uint32_t length, const std::uint32_t* cum, std::uint32_t shift,
                          const SymbolIndex& index);

}  // namespace entropy

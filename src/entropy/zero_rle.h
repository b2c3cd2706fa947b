// Zero run-length coding of byte buffers, at three levels that differ in the
// shortest run of zero bytes that is coded.
#pragma once

#include <cstddef>

namespace zero {

// Codes `length` bytes of `in` at `level` (1, 2 or 3) into `out` and returns the
// number of bytes written; 0 for an empty input or a bad level. `out` must take
// the level's worst-case growth (twice the input at level 1), or the coded
// length plus 16 bytes: up to 16 bytes past the coded ones may be
// overwritten.
int RLE(const unsigned char* in, unsigned char* out, int length, int level);

// Expands a coded buffer into exactly `length` bytes of `out` and returns the
// number of coded bytes consumed; 0 for a length of 0 or less or a bad level.
// Trusts `in` to hold a complete coding.
int deRLE(const unsigned char* in, unsigned char* out, int length, int level);

// deRLE for untrusted input: reads at most `in_length` bytes of `in` and sets
// `consumed` to the number of coded bytes it used. False when the coding ends
// before `length` bytes are produced, or for a length of 0 or less or a bad
// level. Never reads or writes out of bounds.
bool checkedDeRLE(const unsigned char* in, std::size_t in_length, unsigned char* out, int length, int level,
                  std::size_t& consumed);

// Estimates the saving of each level and returns the level to use (1, 2 or 3),
// or 0 when no level saves at least `threshold` bytes.
int testRLE(const unsigned char* in, int length, int threshold);

// Run code byte of a run of n + L zeros (n from 0 to 255), and back.
constexpr unsigned char run_code(int n) { return static_cast<unsigned char>((n & 1) ? 256 - (n + 1) / 2 : n / 2); }
constexpr int run_length_of_code(unsigned char q) { return q <= 0x7F ? 2 * q : 511 - 2 * q; }

}  // namespace zero

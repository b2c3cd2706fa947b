// Fibonacci-based universal code for the 256 symbol counts that every
// compacted plane carries. Small counts take few bits, and a run of zero
// counts takes one short code.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes the n counts and returns the table's length in bytes. The output
// needs no preparation; it must have room for one byte more than the length
// (a table ending on a byte boundary clears the byte behind it). Every count
// must be below 2^32 - 1.
std::uint32_t FibonacciEncode2(const std::uint32_t* counts, unsigned char* out, int n);

// Reads n counts back and returns the number of bytes the table occupies.
// Trusts its input to be a complete, well-formed table.
std::uint32_t FibonacciDecode2(const unsigned char* in, std::uint32_t* counts, int n);

// FibonacciDecode2 for untrusted input: reads at most `available` bytes of
// `in` and sets `length` to the table's length. False when the table runs
// past `available` or holds a code that no writer produces (a Fibonacci
// prefix longer than the weight table, or a bit length above 32); `counts`
// and `length` are unspecified then.
bool FibonacciDecode2Checked(const unsigned char* in, std::size_t available, std::uint32_t* counts, int n,
                             std::uint32_t& length);

// The longest table of 256 counts: every count takes at most 39 bits.
inline constexpr std::uint32_t kMaxFibonacciTableBytes = 1248;

// Scans for zero bytes behind the zero run-length coder: a portable form and
// a vector form that gives identical results. The coder uses the fastest
// form the machine has; tests run both.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zero::detail {

enum class Scan {
  kPortable,  // byte by byte
  kVector,    // 16 bytes at a time (SSE2 on x86-64; the portable form elsewhere)
};

// The form that the coder uses.
inline constexpr Scan kFastestScan = Scan::kVector;

// The first p in [from, end - level] where `level` zero bytes start. When
// there is none, the first position that could start such bytes extending
// past `end`: end - level + 1 (or `from` if that is smaller).
std::size_t find_zeros(const unsigned char* in, std::size_t from, std::size_t end, int level, Scan scan);

// testRLE's three tallies of the bytes each level saves (see testRLE).
struct Tallies {
  std::int64_t s1 = 0;
  std::int64_t s2 = 0;
  std::int64_t s3 = 0;
};

Tallies tally_runs(const unsigned char* in, std::size_t length, Scan scan);

// Where the coder stands: the next input and output positions.
struct Position {
  std::size_t in = 0;
  std::size_t out = 0;
};

// Runs the zero run-length coder of `level` from the start of `in` while
// enough input remains for whole vector steps, and returns where it stopped
// (a point between coding steps, from which the byte-wise coder goes on). The
// portable scan codes nothing. May write up to 16 bytes past the position
// returned; the coded form of the whole input extends past it by more (see
// zero::RLE).
Position rle_bulk(const unsigned char* in, unsigned char* out, std::size_t length, int level, Scan scan);

// The expansion's counterpart: expands units of a coding of `level` from
// the start of `in` (`in_length` bytes) into `out` (`length` bytes) while
// enough of both remain for whole vector steps, and returns where it stopped
// (between units, from which the byte-wise expansion goes on). Reads and
// writes only within the two buffers. The portable scan expands nothing.
Position expand_bulk(const unsigned char* in, std::size_t in_length, unsigned char* out, std::size_t length, int level,
                     Scan scan);

// The three zero run-length operations with a chosen scan; the public ones
// use kFastestScan.
int rle(const unsigned char* in, unsigned char* out, int length, int level, Scan scan);
bool checked_expand(const unsigned char* in, std::size_t in_length, unsigned char* out, int length, int level,
                    Scan scan, std::size_t& consumed);
int test_rle(const unsigned char* in, int length, int threshold, Scan scan);

}  // namespace zero::detail

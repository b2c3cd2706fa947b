// The byte-wise 32-bit range coder of the compacted stream, against a
// cumulative frequency table cum[0..256] with cum[256] = 2^shift.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace entropy {

// Codes `length` bytes and returns the number of bytes written, E. The
// table must be one that calcprob or readprob made (cum[256] = 2^shift when
// length > 0). The output must have room for E bytes: 5 plus one per
// renormalisation (see compact_bound). Nothing is written beyond them.
std::uint32_t range_encode(const unsigned char* in, std::uint32_t length, const std::uint32_t* cum, std::uint32_t shift,
                           unsigned char* out);

// One stream of range_encode_together: what range_encode takes, and the E
// it returns.
struct EncodeStream {
  const unsigned char* in;
  std::uint32_t length;
  const std::uint32_t* cum;
  std::uint32_t shift;
  unsigned char* out;
  std::uint32_t written;
};

// range_encode for several independent streams at once, each into its own
// output, which is faster than one after the other: a single stream waits on
// its multiplications for every symbol. Every stream gets exactly the bytes
// range_encode gives it, and its E in `written`.
void range_encode_together(std::span<EncodeStream> streams);

namespace detail {

// The loops of range_encode_together; they give the same bytes, and the
// public form uses the fastest that the machine has. Tests run each.
enum class EncodeKernel {
  kPortable,
  kBmi2,  // x86-64 with BMI2; the portable loop elsewhere
};

EncodeKernel fastest_encode_kernel();
void range_encode_together(std::span<EncodeStream> streams, EncodeKernel kernel);

}  // namespace detail

// What the decoder needs of a table: for every slice of the table total, the
// byte value whose interval holds the slice's start, with that interval. A
// lookup then finds the byte value of almost any point at once, and a short
// walk up the table finds the rest; the answer is exactly the binary
// search's. Built from cum and shift by build().
class DecodeTable {
 public:
  static constexpr std::uint32_t kSliceBits = 11;

  void build(const std::uint32_t* cum, std::uint32_t shift);

  // One slice: its byte value s (bits 24..31) with cum[s] (bits 0..23), and
  // the frequency of s (bits 0..30) with bit 31 set for s = 255, which keeps
  // the range that r leaves over.
  struct Slice {
    std::uint32_t start_symbol;
    std::uint32_t size_flag;
  };

  std::uint32_t total() const { return cum_[256]; }
  std::uint32_t shift() const { return shift_; }
  std::uint32_t slice_shift() const { return slice_shift_; }
  const Slice* slices() const { return slices_.data(); }
  // cum[255] == total: byte value 255 has no frequency.
  bool lacks_255() const { return cum_[255] == cum_[256]; }
  Slice slice_of(std::uint32_t s) const;
  // The slice of the largest s' >= s with cum[s'] <= t, for t < total().
  Slice walk(std::uint32_t s, std::uint32_t t) const;

 private:
  std::array<std::uint32_t, 257> cum_{};
  std::uint32_t shift_ = 0;
  std::uint32_t slice_shift_ = 0;
  std::array<Slice, std::size_t{1} << kSliceBits> slices_{};
};

// Decodes `length` bytes. `in` is the coded data including its ignored first
// byte. Trusts its input: reads exactly the bytes a valid coding holds.
void range_decode(const unsigned char* in, unsigned char* out, std::uint32_t length, const DecodeTable& table);

// range_decode for untrusted input: reads at most `available` bytes of `in`
// and returns false when the coding would need more, or selects a byte value
// that the table does not hold. Valid codings decode exactly as above.
bool range_decode_checked(const unsigned char* in, std::size_t available, unsigned char* out, std::uint32_t length,
                          const DecodeTable& table);

// One coded stream of range_decode_checked_together.
struct CodedStream {
  const unsigned char* in;  // coded data, with the ignored first byte
  std::size_t available;    // bytes of `in` that may be read
  unsigned char* out;       // `length` bytes
  std::uint32_t length;
  const DecodeTable* table;
};

// range_decode_checked for several independent streams at once, which is
// faster than one after the other: a single stream waits on its division
// and lookup for every symbol. False when any stream is bad.
bool range_decode_checked_together(std::span<const CodedStream> streams);

}  // namespace entropy

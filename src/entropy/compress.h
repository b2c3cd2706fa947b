// The entropy coder of one plane: optional zero run-length coding, a static
// order-0 table stored with the Fibonacci code, and a range coder. compact()
// turns a plane into a self-contained compacted stream; uncompact() and
// uncompact_checked() restore it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace entropy {
class DecodeTable;
struct CodedStream;
struct EncodeStream;
}  // namespace entropy

// One plane for compact_together: `length` bytes at `in`.
struct PlaneInput {
  const unsigned char* in;
  std::uint32_t length;
};

// One plane for uncompact_checked_together: its stream (`available` bytes at
// `in`) and where its `length` bytes go.
struct PlaneStream {
  const unsigned char* in;
  std::size_t available;
  unsigned char* out;
  std::uint32_t length;
};

class Compress {
 public:
  Compress();   // no buffers yet
  ~Compress();  // releases whatever it holds
  Compress(const Compress&) = delete;
  Compress& operator=(const Compress&) = delete;

  // Counts the bytes of `in` into `counts` and scales them into `cum` and
  // `shift`.
  void calcprob(const unsigned char* in, std::uint32_t length);
  // Range-codes `length` bytes against `cum` and returns the number of bytes
  // written (the first of them always 0x00).
  int encode(const unsigned char* in, unsigned char* out, std::uint32_t length);
  // Reads a stored count table into `cum` and `shift`, as calcprob would have
  // scaled it, and returns the table's length in bytes. Trusts its input.
  std::uint32_t readprob(const unsigned char* in);
  // Decodes `length` bytes against `cum`; the first coded byte is ignored.
  // Trusts its input.
  void decode(const unsigned char* in, unsigned char* out, std::uint32_t length);

  // Writes the compacted stream of a plane and returns its reported length:
  // the stored bytes plus the byte behind them, which is written as 0. `out`
  // must hold compact_bound(length) bytes; `length` must not exceed the size
  // given to InitCompressBuffers.
  std::uint32_t compact(const unsigned char* in, unsigned char* out, std::uint32_t length);
  // Restores a plane of `length` bytes from its compacted stream. Trusts its
  // input.
  void uncompact(const unsigned char* in, unsigned char* out, std::uint32_t length);
  // Untrusted streams: reads at most `available` bytes of `in`, writes exactly
  // `length` bytes of `out` on success; returns false (no out-of-bounds
  // access) on a bad stream. Valid streams decode exactly as uncompact does.
  bool uncompact_checked(const unsigned char* in, std::size_t available, unsigned char* out, std::uint32_t length);

  // Acquires the run-length buffer (`size` bytes: the longest plane that will
  // be compacted) and the tables. False, with no buffers, when the memory
  // cannot be had.
  bool InitCompressBuffers(std::uint32_t size);
  // Releases the buffers; harmless when there are none.
  void FreeCompressBuffers();

  std::unique_ptr<std::uint32_t[]> cum;         // 257 entries: cumulative scaled frequencies
  std::uint32_t shift = 0;                      // log2 of the table total cum[256]
  std::unique_ptr<std::uint32_t[]> counts;      // 256 entries: raw counts of the last calcprob
  std::unique_ptr<unsigned char[]> rle_buffer;  // run-length form of a plane

 private:
  friend bool uncompact_checked_together(std::span<Compress* const> coders, std::span<const PlaneStream> planes);
  friend bool compact_together(std::span<Compress* const> coders, std::span<const PlaneInput> planes,
                               unsigned char* out, std::span<std::uint32_t> reported);

  // compact in three steps: the header and table, and what is left to
  // range-code, with the table's last byte (which the coder's first byte
  // overwrites) in `kept`; the range coding; then, given the coder's E in
  // `written`, the table's last byte put back. close_compact returns the
  // stored length.
  entropy::EncodeStream open_compact(const unsigned char* in, unsigned char* out, std::uint32_t length,
                                     unsigned char& kept);
  static std::uint32_t close_compact(const entropy::EncodeStream& coded, unsigned char* out, unsigned char kept);

  // The checked restore in three steps: the header and table (into `coded`,
  // the range-coded part, and the run-length level), the range decoding,
  // and the run-length expansion.
  bool open_checked(const PlaneStream& plane, entropy::CodedStream& coded, unsigned& level);
  bool close_checked(const PlaneStream& plane, const entropy::CodedStream& coded, unsigned level);

  std::uint32_t rle_capacity_ = 0;
  std::unique_ptr<entropy::DecodeTable> decode_table_;  // rebuilt for every table decoded
};

// uncompact_checked for several planes at once, each with a coder of its
// own (whose tables and run-length buffer it uses; they must be distinct).
// The planes' range decoding runs interleaved, about twice as fast as one
// plane after the other. True when every plane is restored exactly.
bool uncompact_checked_together(std::span<Compress* const> coders, std::span<const PlaneStream> planes);

// compact for several planes at once, each with a coder of its own (whose
// tables and run-length buffer it uses; they must be distinct). The streams
// follow each other at `out`, each starting at the end of the length its
// predecessor reports, and are exactly the bytes that compact calls one
// after the other give; `reported` receives each reported length. `out`
// must hold the sum of compact_bound of the planes' lengths. The planes'
// range coding runs interleaved, faster than one plane after the other.
// False, with nothing written, when the spans differ in size or a coder is
// missing or repeated.
bool compact_together(std::span<Compress* const> coders, std::span<const PlaneInput> planes, unsigned char* out,
                      std::span<std::uint32_t> reported);

// Largest length that compact() reports for a plane of `length` bytes: the room
// a caller must give compact()'s output (the byte behind the stream is written
// too, as 0).
std::size_t compact_bound(std::size_t length);

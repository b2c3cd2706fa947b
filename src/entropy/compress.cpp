#include "entropy/compress.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <new>
#include <span>

#include "entropy/byte_order.h"
#include "entropy/fibonacci.h"
#include "entropy/frequency_table.h"
#include "entropy/range_coder.h"
#include "entropy/zero_rle.h"

namespace {

constexpr std::uint32_t kHeaderPlain = 1;  // the method byte
constexpr std::uint32_t kHeaderRle = 5;    // the level byte and R

std::uint64_t sum_of(const std::uint32_t* counts) {
  std::uint64_t sum = 0;
  for (int s = 0; s < 256; ++s) sum += counts[s];
  return sum;
}

// Each plane needs a coder of its own: its tables and run-length buffer.
bool distinct(std::span<Compress* const> coders) {
  for (std::size_t i = 0; i < coders.size(); ++i) {
    if (coders[i] == nullptr) return false;
    for (std::size_t j = 0; j < i; ++j) {
      if (coders[j] == coders[i]) return false;
    }
  }
  return true;
}

}  // namespace

Compress::Compress() = default;
Compress::~Compress() = default;

bool Compress::InitCompressBuffers(std::uint32_t size) {
  FreeCompressBuffers();
  rle_buffer.reset(new (std::nothrow) unsigned char[size]);
  cum.reset(new (std::nothrow) std::uint32_t[257]());
  counts.reset(new (std::nothrow) std::uint32_t[256]());
  decode_table_.reset(new (std::nothrow) entropy::DecodeTable());
  if (!rle_buffer || !cum || !counts || !decode_table_) {
    FreeCompressBuffers();
    return false;
  }
  rle_capacity_ = size;
  return true;
}

void Compress::FreeCompressBuffers() {
  rle_buffer.reset();
  cum.reset();
  counts.reset();
  decode_table_.reset();
  rle_capacity_ = 0;
}

void Compress::calcprob(const unsigned char* in, std::uint32_t length) {
  std::span<std::uint32_t, 256> raw(counts.get(), 256);
  std::fill(raw.begin(), raw.end(), 0u);
  entropy::count_bytes({in, length}, raw);
  std::copy(raw.begin(), raw.end(), cum.get() + 1);
  shift = entropy::scale_counts(std::span<std::uint32_t, 257>(cum.get(), 257), length);
}

int Compress::encode(const unsigned char* in, unsigned char* out, std::uint32_t length) {
  return static_cast<int>(entropy::range_encode(in, length, cum.get(), shift, out));
}

std::uint32_t Compress::readprob(const unsigned char* in) {
  const std::uint32_t table_length = FibonacciDecode2(in, cum.get() + 1, 256);
  shift = entropy::scale_counts(std::span<std::uint32_t, 257>(cum.get(), 257), sum_of(cum.get() + 1));
  return table_length;
}

void Compress::decode(const unsigned char* in, unsigned char* out, std::uint32_t length) {
  decode_table_->build(cum.get(), shift);
  entropy::range_decode(in, out, length, *decode_table_);
}

entropy::EncodeStream Compress::open_compact(const unsigned char* in, unsigned char* out, std::uint32_t length,
                                             unsigned char& kept) {
  const std::uint32_t threshold = std::max<std::uint32_t>(length / 1000, 16);
  // A plane longer than the run-length buffer is coded without run-length
  // coding rather than overrunning the buffer.
  int level = 0;
  if (length <= rle_capacity_ && length <= static_cast<std::uint32_t>(INT_MAX)) {
    level = zero::testRLE(in, static_cast<int>(length), static_cast<int>(threshold));
  }
  const unsigned char* symbols = in;
  std::uint32_t count = length;
  std::uint32_t header = kHeaderPlain;
  out[0] = static_cast<unsigned char>(level);
  if (level != 0) {
    count = static_cast<std::uint32_t>(zero::RLE(in, rle_buffer.get(), static_cast<int>(length), level));
    symbols = rle_buffer.get();
    store_le32(out + 1, count);
    header = kHeaderRle;
  }
  calcprob(symbols, count);
  const std::uint32_t table = FibonacciEncode2(counts.get(), out + header, 256);
  // The coder's first byte, always 0x00, is not stored: the coded data
  // start on the table's last byte, which keeps its value.
  unsigned char* coded_start = out + header + table - 1;
  kept = *coded_start;
  return {symbols, count, cum.get(), shift, coded_start, 0};
}

std::uint32_t Compress::close_compact(const entropy::EncodeStream& coded, unsigned char* out, unsigned char kept) {
  *coded.out = kept;
  return static_cast<std::uint32_t>(coded.out - out) + coded.written;
}

std::uint32_t Compress::compact(const unsigned char* in, unsigned char* out, std::uint32_t length) {
  unsigned char kept = 0;
  entropy::EncodeStream coded = open_compact(in, out, length, kept);
  coded.written = static_cast<std::uint32_t>(encode(coded.in, coded.out, coded.length));
  const std::uint32_t stored = close_compact(coded, out, kept);
  // The reported length counts one byte behind the stream; writing it keeps
  // the output a function of the input alone.
  out[stored] = 0;
  return stored + 1;
}

bool compact_together(std::span<Compress* const> coders, std::span<const PlaneInput> planes, unsigned char* out,
                      std::span<std::uint32_t> reported) {
  if (coders.size() != planes.size() || reported.size() != planes.size() || !distinct(coders)) return false;
  constexpr std::size_t kGroup = 4;
  std::array<entropy::EncodeStream, kGroup> coded;
  std::array<unsigned char, kGroup> kept{};
  std::array<unsigned char*, kGroup> room{};
  while (!planes.empty()) {
    const std::size_t n = std::min(planes.size(), kGroup);
    // Each stream is written first where the longest streams before it would
    // leave it, then moved down behind its predecessor: its start depends on
    // their coded lengths. The move never reaches the rooms after it.
    unsigned char* at = out;
    for (std::size_t k = 0; k < n; ++k) {
      room[k] = at;
      coded[k] = coders[k]->open_compact(planes[k].in, at, planes[k].length, kept[k]);
      at += compact_bound(planes[k].length);
    }
    entropy::range_encode_together(std::span(coded.data(), n));
    for (std::size_t k = 0; k < n; ++k) {
      const std::uint32_t stored = Compress::close_compact(coded[k], room[k], kept[k]);
      if (room[k] != out) std::memmove(out, room[k], stored);
      out[stored] = 0;
      reported[k] = stored + 1;
      out += stored + 1;
    }
    planes = planes.subspan(n);
    coders = coders.subspan(n);
    reported = reported.subspan(n);
  }
  return true;
}

void Compress::uncompact(const unsigned char* in, unsigned char* out, std::uint32_t length) {
  const unsigned level = in[0];
  if (level == 0) {
    const std::uint32_t table = readprob(in + kHeaderPlain);
    decode(in + kHeaderPlain + table - 1, out, length);
    return;
  }
  const std::uint32_t coded = load_le32(in + 1);
  const std::uint32_t table = readprob(in + kHeaderRle);
  decode(in + kHeaderRle + table - 1, rle_buffer.get(), coded);
  // R bounds the expansion, which can then copy in blocks.
  std::size_t consumed = 0;
  zero::checkedDeRLE(rle_buffer.get(), coded, out, static_cast<int>(length), static_cast<int>(level), consumed);
}

bool Compress::open_checked(const PlaneStream& plane, entropy::CodedStream& coded, unsigned& level) {
  if (!cum || plane.available < 1) return false;
  const unsigned char* in = plane.in;
  level = in[0];
  if (level > 3) return false;
  const std::uint32_t header = level == 0 ? kHeaderPlain : kHeaderRle;
  if (plane.available < header) return false;
  std::uint32_t symbols = plane.length;
  unsigned char* target = plane.out;
  if (level != 0) {
    // The run-length form is never empty and never longer than the plane.
    symbols = load_le32(in + 1);
    if (symbols == 0 || symbols > plane.length || symbols > rle_capacity_ ||
        plane.length > static_cast<std::uint32_t>(INT_MAX)) {
      return false;
    }
    target = rle_buffer.get();
  }
  std::uint32_t table = 0;
  if (!FibonacciDecode2Checked(in + header, plane.available - header, cum.get() + 1, 256, table) ||
      sum_of(cum.get() + 1) != symbols) {
    return false;
  }
  shift = entropy::scale_counts(std::span<std::uint32_t, 257>(cum.get(), 257), symbols);
  decode_table_->build(cum.get(), shift);
  const std::size_t coded_start = header + table - 1;
  coded = {in + coded_start, plane.available - coded_start, target, symbols, decode_table_.get()};
  return true;
}

bool Compress::close_checked(const PlaneStream& plane, const entropy::CodedStream& coded, unsigned level) {
  if (level == 0) return true;
  // Every run-length byte must be used, and exactly: the writer's form ends
  // where the plane does.
  std::size_t consumed = 0;
  return zero::checkedDeRLE(rle_buffer.get(), coded.length, plane.out, static_cast<int>(plane.length),
                            static_cast<int>(level), consumed) &&
         consumed == coded.length;
}

bool Compress::uncompact_checked(const unsigned char* in, std::size_t available, unsigned char* out,
                                 std::uint32_t length) {
  const PlaneStream plane{in, available, out, length};
  entropy::CodedStream coded;
  unsigned level = 0;
  return open_checked(plane, coded, level) &&
         entropy::range_decode_checked(coded.in, coded.available, coded.out, coded.length, *coded.table) &&
         close_checked(plane, coded, level);
}

bool uncompact_checked_together(std::span<Compress* const> coders, std::span<const PlaneStream> planes) {
  if (coders.size() != planes.size() || !distinct(coders)) return false;
  constexpr std::size_t kGroup = 3;
  while (!planes.empty()) {
    const std::size_t n = std::min(planes.size(), kGroup);
    std::array<entropy::CodedStream, kGroup> coded;
    std::array<unsigned, kGroup> level{};
    for (std::size_t k = 0; k < n; ++k) {
      if (!coders[k]->open_checked(planes[k], coded[k], level[k])) return false;
    }
    if (!entropy::range_decode_checked_together(std::span(coded.data(), n))) return false;
    for (std::size_t k = 0; k < n; ++k) {
      if (!coders[k]->close_checked(planes[k], coded[k], level[k])) return false;
    }
    planes = planes.subspan(n);
    coders = coders.subspan(n);
  }
  return true;
}

// The coder writes E = 5 + (renormalisation steps) bytes, and the steps add
// up to at most the sum over the symbols of log2(range / (r * f)) bits: the
// ideal cost log2(T / f) plus the loss log2(range / (r * T)) < log2(1 + 1/r),
// where r = range >> shift >= 2^23 / T. The ideal costs add up to at most 8
// bits a byte (the buffer's own entropy), plus what the scaling of the counts
// gives away: under 93 bytes for every 2^23 bytes of buffer, 2^-23 bit a
// byte for the single-precision ratio, and above 2^23 bytes at most 0.0114
// bit a byte taken from the largest frequency. A run-length form is shorter
// than its plane, so the plane's bound covers it.
std::size_t compact_bound(std::size_t length) {
  // ceil(2^20 * log2(1 + 2^(shift - 23))): the loss bound per byte, by shift.
  static constexpr std::uint64_t kLoss[24] = {1,     1,     1,     2,     3,      6,      12,     24,
                                              47,    93,    185,   370,   739,    1477,   2952,   5898,
                                              11773, 23455, 46551, 91712, 178180, 337567, 613378, 1048576};
  constexpr std::uint64_t kTakenFromLargest = 11866;  // 2^20 * log2(32768 / 32512), rounded up
  std::uint32_t shift = 0;
  while (shift < entropy::kMaxShift && (std::uint64_t{1} << shift) < length) ++shift;
  const std::uint64_t n = length;
  std::uint64_t per_byte = kLoss[shift];
  if (n > entropy::kMaxTotal) per_byte += kTakenFromLargest;
  const std::uint64_t coder_loss = (n * per_byte + (std::uint64_t{1} << 23) - 1) >> 23;
  const std::uint64_t slices = std::max<std::uint64_t>(1, (n + entropy::kMaxTotal - 1) / entropy::kMaxTotal);
  const std::uint64_t scaling = 93 * slices + (n >> 26) + 1;
  constexpr std::uint64_t kFixed = kHeaderRle + kMaxFibonacciTableBytes + 5 + 1;  // header, table, coder, byte behind
  return static_cast<std::size_t>(n + coder_loss + scaling + kFixed);
}

#include "entropy/range_coder.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>

#include "entropy/cpu_features.h"

namespace entropy {

namespace {

constexpr std::uint32_t kTop = 0x80000000u;   // the carry bit of the encoder's low
constexpr std::uint32_t kBottom = 0x800000u;  // renormalise while range <= 2^23

// Number of 8-bit renormalisation steps that bring range above 2^23; range
// is at least 1, so three always suffice.
inline std::uint32_t renorm_steps(std::uint32_t range) {
  return static_cast<std::uint32_t>(range <= kBottom) + static_cast<std::uint32_t>(range <= (kBottom >> 8)) +
         static_cast<std::uint32_t>(range <= (kBottom >> 16));
}

inline void store_be32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

// A carry into the byte at `wrapped`, which held 0xFF and now holds 0x00,
// goes on into the bytes before it. It never reaches the first byte, 0x00, as the coder's
// value stays below 1 at that byte's scale.
[[gnu::noinline]] void propagate_carry(unsigned char* out, std::size_t wrapped) {
  while (wrapped > 0 && ++out[--wrapped] == 0) {
  }
}

}  // namespace

namespace {

// Start, size and a mask of every byte value. Byte value 255 keeps all of
// the remaining range, including what the unit r leaves over above
// r * total; the mask adds that part without a branch.
struct EncodeSymbol {
  std::uint32_t start;
  std::uint32_t size;
  std::uint32_t keep;
  std::uint32_t unused;
};
using EncodeTable = std::array<EncodeSymbol, 256>;

// `keep` is what r leaves over above r * total, range modulo the total
// 2^shift, for byte value 255 and nothing for the others.
void build_encode_table(const std::uint32_t* cum, std::uint32_t shift, EncodeTable& sym) {
  const std::uint32_t leftover = (1u << shift) - 1;
  for (int s = 0; s < 256; ++s) sym[s] = {cum[s], cum[s + 1] - cum[s], s == 255 ? leftover : 0u, 0};
}

// The bytes go straight into the output instead of through a held-back byte
// and a count of pending 0xFF bytes, which gives the same bytes. The register
// `acc` holds the last byte written (bits 38..31) above the 31-bit low, so a
// carry out of low adds itself to that byte; only when the byte was 0xFF
// must it go on into the bytes before it. Every symbol stores the last byte
// and the next three bytes of low, final or not, so that renormalisation
// needs no branch; the stores never pass the E bytes, which end with the four
// bytes of the final low.
class Encoder {
 public:
  Encoder() = default;
  Encoder(const EncodeTable& sym, std::uint32_t shift, unsigned char* out)
      : sym_(sym.data()), shift_(shift), last_(out) {}

  // Codes one byte value. Everything the step needs of the table is read
  // into registers first: the output stores could alias it.
  // `first` is the coder's first byte, which bounds a carry's walk; it is
  // read only when a carry happens, so it need not take a register.
  void step(unsigned char s, unsigned char* const& first) {
    const EncodeSymbol c = sym_[s];
    const std::uint32_t r = range_ >> shift_;
    acc_ += r * c.start;
    const std::uint32_t x = r * c.size + (range_ & c.keep);
    if ((acc_ >> 39) != 0) [[unlikely]] {
      propagate_carry(first, static_cast<std::size_t>(last_ - first));
      acc_ &= kAccMask;
    }
    store_be32(last_, static_cast<std::uint32_t>(acc_ >> 7));
    // One step is common, more are rare (only small frequencies need them).
    std::uint32_t k = static_cast<std::uint32_t>(__builtin_expect_with_probability(x <= kBottom, 1, 0.5));
    if (x <= (kBottom >> 8)) [[unlikely]]
      k = renorm_steps(x);
    last_ += k;
    acc_ = (acc_ << (8 * k)) & kAccMask;
    range_ = x << (8 * k);
  }

  // Writes the last byte and the final low; returns E.
  std::uint32_t finish(const unsigned char* first) {
    *last_ = static_cast<unsigned char>(acc_ >> 31);
    store_be32(last_ + 1, static_cast<std::uint32_t>(acc_ << 1));
    return static_cast<std::uint32_t>(last_ - first + 5);
  }

 private:
  static constexpr std::uint64_t kAccMask = (std::uint64_t{1} << 39) - 1;

  const EncodeSymbol* sym_ = nullptr;
  std::uint32_t shift_ = 0;
  unsigned char* last_ = nullptr;  // the last byte written
  std::uint64_t acc_ = 0;          // last byte 0x00 (the coder's first byte), low 0
  std::uint32_t range_ = kTop;
};

// A group of streams being coded: their encoders, the symbols each has left
// and where they are, and the streams to report to.
struct Group {
  std::array<Encoder, 3> encoders;
  std::array<const unsigned char*, 3> in;
  std::array<unsigned char*, 3> first;  // each coder's first byte
  std::array<std::uint32_t, 3> left;
  std::array<EncodeStream*, 3> streams;
};

// Runs `count` symbols of every encoder in turn. The encoders are copied into
// a local indexed by constants only, so that they live in registers (the
// output stores could alias them otherwise), and their chains overlap.
template <std::size_t... K>
[[gnu::always_inline]] inline void encode_loop(Group& g, std::uint32_t count, std::index_sequence<K...>) {
  std::array<Encoder, sizeof...(K)> local = {g.encoders[K]...};
  const std::array<const unsigned char*, sizeof...(K)> from = {g.in[K]...};
  for (std::uint32_t i = 0; i < count; ++i) (local[K].step(from[K][i], g.first[K]), ...);
  ((g.encoders[K] = local[K]), ...);
  ((g.in[K] += count), ...);
}

template <std::size_t N>
void encode_together_portable(Group& g, std::uint32_t count) {
  encode_loop(g, count, std::make_index_sequence<N>());
}

#if defined(__x86_64__)
// The same loop with BMI2's shifts, which take their count in any register:
// three encoders' variable shifts then need not all pass through CL, and
// the loop spills less. The bytes are the same.
template <std::size_t N>
__attribute__((target("bmi2"))) void encode_together_bmi2(Group& g, std::uint32_t count) {
  encode_loop(g, count, std::make_index_sequence<N>());
}
#endif

template <std::size_t N>
void encode_together(Group& g, std::uint32_t count, detail::EncodeKernel kernel) {
#if defined(__x86_64__)
  if (kernel == detail::EncodeKernel::kBmi2) {
    encode_together_bmi2<N>(g, count);
    return;
  }
#endif
  static_cast<void>(kernel);
  encode_together_portable<N>(g, count);
}

void encode_active(Group& g, std::size_t n, detail::EncodeKernel kernel);

// Codes N streams together while they all have symbols left, then drops the
// ones that are done and goes on with the others.
template <std::size_t N>
void encode_streams(Group& g, detail::EncodeKernel kernel) {
  const std::uint32_t count = *std::min_element(g.left.begin(), g.left.begin() + N);
  encode_together<N>(g, count, kernel);
  std::size_t kept = 0;
  for (std::size_t k = 0; k < N; ++k) {
    g.left[k] -= count;
    if (g.left[k] == 0) {
      g.streams[k]->written = g.encoders[k].finish(g.first[k]);
      continue;
    }
    g.encoders[kept] = g.encoders[k];
    g.in[kept] = g.in[k];
    g.first[kept] = g.first[k];
    g.left[kept] = g.left[k];
    g.streams[kept] = g.streams[k];
    ++kept;
  }
  encode_active(g, kept, kernel);
}

// Streams with symbols left, at most three.
void encode_active(Group& g, std::size_t n, detail::EncodeKernel kernel) {
  switch (n) {
    case 3: encode_streams<3>(g, kernel); break;
    case 2: encode_streams<2>(g, kernel); break;
    case 1: encode_streams<1>(g, kernel); break;
    default: break;
  }
}

}  // namespace

std::uint32_t range_encode(const unsigned char* in, std::uint32_t length, const std::uint32_t* cum, std::uint32_t shift,
                           unsigned char* out) {
  EncodeTable sym;
  build_encode_table(cum, shift, sym);
  Encoder encoder(sym, shift, out);
  for (std::uint32_t i = 0; i < length; ++i) encoder.step(in[i], out);
  return encoder.finish(out);
}

namespace detail {

EncodeKernel fastest_encode_kernel() {
  static const EncodeKernel kernel = cpu_features().bmi2 ? EncodeKernel::kBmi2 : EncodeKernel::kPortable;
  return kernel;
}

void range_encode_together(std::span<EncodeStream> streams, EncodeKernel kernel) {
  constexpr std::size_t kMost = 3;  // more would spill the encoders' registers
  std::array<EncodeTable, kMost> tables;
  Group g;
  while (!streams.empty()) {
    const std::size_t n = std::min(streams.size(), kMost);
    std::size_t active = 0;
    for (std::size_t k = 0; k < n; ++k) {
      EncodeStream& s = streams[k];
      build_encode_table(s.cum, s.shift, tables[k]);
      Encoder encoder(tables[k], s.shift, s.out);
      if (s.length == 0) {
        s.written = encoder.finish(s.out);
        continue;
      }
      g.encoders[active] = encoder;
      g.in[active] = s.in;
      g.first[active] = s.out;
      g.left[active] = s.length;
      g.streams[active] = &s;
      ++active;
    }
    encode_active(g, active, kernel);
    streams = streams.subspan(n);
  }
}

}  // namespace detail

void range_encode_together(std::span<EncodeStream> streams) {
  detail::range_encode_together(streams, detail::fastest_encode_kernel());
}

void DecodeTable::build(const std::uint32_t* cum, std::uint32_t shift) {
  std::memcpy(cum_.data(), cum, sizeof cum_);
  shift_ = shift;
  slice_shift_ = shift > kSliceBits ? shift - kSliceBits : 0;
  const std::uint32_t unit = 1u << slice_shift_;
  const std::uint32_t slices = std::min<std::uint32_t>(cum_[256] >> slice_shift_, slices_.size());
  // Slice b starts at b * unit and belongs to the byte value whose interval
  // holds that start.
  for (std::uint32_t s = 0; s < 256; ++s) {
    const std::uint32_t first = (cum_[s] + unit - 1) >> slice_shift_;
    const std::uint32_t end = std::min((cum_[s + 1] + unit - 1) >> slice_shift_, slices);
    if (first >= end) continue;
    const Slice slice = slice_of(s);
    for (std::uint32_t b = first; b < end; ++b) slices_[b] = slice;
  }
}

DecodeTable::Slice DecodeTable::slice_of(std::uint32_t s) const {
  return {cum_[s] | (s << 24), (cum_[s + 1] - cum_[s]) | (s == 255 ? 0x80000000u : 0u)};
}

DecodeTable::Slice DecodeTable::walk(std::uint32_t s, std::uint32_t t) const {
  while (cum_[s + 1] <= t) ++s;
  return slice_of(s);
}

namespace {

// The decoder keeps low2 = 2 * low + (lowest bit of the last byte read): the
// coded bytes carry low shifted left by one bit, and low2 takes them as they
// are. Only bits 1 to 32 of low2 (low itself) matter. The table's fields are
// copied into locals so that they stay in registers (the output bytes could
// alias them otherwise).
class Decoder {
 public:
  Decoder() = default;
  Decoder(const DecodeTable& table, std::uint32_t first_byte)
      : table_(&table),
        slices_(table.slices()),
        total_(table.total()),
        shift_(table.shift()),
        slice_shift_(table.slice_shift()),
        leftover_((1u << table.shift()) - 1),
        low2_(first_byte) {}

  bool needs_byte() const { return range_ <= kBottom; }
  void take_byte(unsigned char b) {
    range_ <<= 8;
    low2_ = (low2_ << 8) | b;
  }

  // Decodes one byte value, after renormalisation; false when the coding
  // selects a byte value without frequency.
  bool symbol(unsigned char* out) {
    const std::uint32_t r = range_ >> shift_;
    const std::uint32_t t = static_cast<std::uint32_t>(low2_ >> 1) / r;
    DecodeTable::Slice slice;
    if (t < total_) [[likely]] {
      slice = slices_[t >> slice_shift_];
      if (t - (slice.start_symbol & 0xFFFFFF) >= (slice.size_flag & 0x7FFFFFFF)) [[unlikely]] {
        slice = table_->walk(slice.start_symbol >> 24, t);
      }
    } else {
      // Above the table's total only 255 can have been coded, in the range
      // it keeps beyond r * total; without a frequency of its own it cannot.
      if (table_->lacks_255()) return false;
      slice = table_->slice_of(255);
    }
    *out = static_cast<unsigned char>(slice.start_symbol >> 24);
    low2_ -= std::uint64_t{r * (slice.start_symbol & 0xFFFFFF)} << 1;
    const auto keep = static_cast<std::uint32_t>(static_cast<std::int32_t>(slice.size_flag) >> 31);
    range_ = r * (slice.size_flag & 0x7FFFFFFF) + (range_ & leftover_ & keep);
    return true;
  }

 private:
  const DecodeTable* table_ = nullptr;
  const DecodeTable::Slice* slices_ = nullptr;
  std::uint32_t total_ = 0;
  std::uint32_t shift_ = 0;
  std::uint32_t slice_shift_ = 0;
  std::uint32_t leftover_ = 0;
  std::uint64_t low2_ = 0;
  std::uint32_t range_ = 0x80;
};

}  // namespace

void range_decode(const unsigned char* in, unsigned char* out, std::uint32_t length, const DecodeTable& table) {
  if (length == 0) return;
  Decoder decoder(table, in[1]);
  const unsigned char* p = in + 2;
  for (std::uint32_t i = 0; i < length; ++i) {
    while (decoder.needs_byte()) decoder.take_byte(*p++);
    if (!decoder.symbol(out + i)) {
      // Only a corrupt coding gets here; give defined output.
      std::memset(out + i, 0, length - i);
      return;
    }
  }
}

namespace {

// One stream being decoded: its decoder, the coded bytes it may still read
// and the output bytes it has still to write.
struct Stream {
  Decoder decoder;
  const unsigned char* next;
  const unsigned char* end;
  unsigned char* out;
  unsigned char* out_end;

  // Symbols that can be decoded without checks: a symbol reads at most
  // three bytes.
  std::size_t safe_steps() const {
    return std::min(static_cast<std::size_t>(out_end - out), static_cast<std::size_t>(end - next) / 3);
  }

  bool step() {
    while (decoder.needs_byte()) decoder.take_byte(*next++);
    return decoder.symbol(out++);
  }

  // The last symbols, each read checked.
  bool finish() {
    for (; out < out_end; ++out) {
      while (decoder.needs_byte()) {
        if (next == end) return false;
        decoder.take_byte(*next++);
      }
      if (!decoder.symbol(out)) return false;
    }
    return true;
  }
};

// Runs `count` symbols of every stream in turn. The streams are copied into
// a local indexed by constants only, so that they live in registers (the
// output stores could alias them otherwise), and their chains of division
// and lookup overlap.
template <std::size_t... K>
bool run_together(Stream* streams, std::size_t count, std::index_sequence<K...>) {
  std::array<Stream, sizeof...(K)> local = {streams[K]...};
  bool ok = true;
  for (std::size_t step = 0; step < count && ok; ++step) ok = (local[K].step() && ...);
  ((streams[K] = local[K]), ...);
  return ok;
}

// Decodes N streams together while they all have symbols and bytes to
// spare; then finishes one that has not and goes on with the others.
template <std::size_t N>
bool decode_streams(Stream* streams) {
  while (true) {
    std::size_t safe = SIZE_MAX;
    for (std::size_t k = 0; k < N; ++k) safe = std::min(safe, streams[k].safe_steps());
    if (safe == 0) break;
    if (!run_together(streams, safe, std::make_index_sequence<N>())) return false;
  }
  std::size_t k = 0;
  while (streams[k].safe_steps() != 0) ++k;
  if (!streams[k].finish()) return false;
  if constexpr (N > 1) {
    std::swap(streams[k], streams[N - 1]);
    return decode_streams<N - 1>(streams);
  }
  return true;
}

// A stream with symbols needs the two bytes that start the decoder and a
// table whose total is 2^shift, as scaling makes it.
bool start(const CodedStream& coded, Stream& stream) {
  if (coded.length != 0 && (coded.available < 2 || coded.table->total() != (1u << coded.table->shift()))) {
    return false;
  }
  const bool empty = coded.length == 0;
  stream.decoder = Decoder(*coded.table, empty ? 0 : coded.in[1]);
  stream.next = empty ? coded.in : coded.in + 2;
  stream.end = empty ? stream.next : coded.in + coded.available;
  stream.out = coded.out;
  stream.out_end = coded.out + coded.length;
  return true;
}

}  // namespace

bool range_decode_checked(const unsigned char* in, std::size_t available, unsigned char* out, std::uint32_t length,
                          const DecodeTable& table) {
  Stream stream;
  if (!start({in, available, out, length, &table}, stream)) return false;
  return decode_streams<1>(&stream);
}

bool range_decode_checked_together(std::span<const CodedStream> streams) {
  constexpr std::size_t kMost = 3;  // more would spill the decoders' registers
  std::array<Stream, kMost> group;
  while (!streams.empty()) {
    const std::size_t n = std::min(streams.size(), kMost);
    for (std::size_t k = 0; k < n; ++k) {
      if (!start(streams[k], group[k])) return false;
    }
    const bool ok = n == 3   ? decode_streams<3>(group.data())
                    : n == 2 ? decode_streams<2>(group.data())
                             : decode_streams<1>(group.data());
    if (!ok) return false;
    streams = streams.subspan(n);
  }
  return true;
}

}  // namespace entropy

#include "entropy/range_coder.h"

#include <cstring>

namespace entropy {

namespace {

constexpr std::uint32_t kTop = 0x80000000u;     // the carry bit of the encoder's low
constexpr std::uint32_t kBottom = 0x800000u;    // renormalise while range <= 2^23

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

inline std::uint32_t load_be32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// A carry that turned the byte at `wrapped` from 0xFF into 0x00 goes on into
// the bytes before it. It never reaches the first byte, 0x00, as the coder's
// value stays below 1 at that byte's scale.
[[gnu::noinline]] void propagate_carry(unsigned char* out, std::size_t wrapped) {
  while (wrapped > 0 && ++out[--wrapped] == 0) {
  }
}

}  // namespace

// The bytes go straight into the output instead of through a held-back byte
// and a count of pending 0xFF bytes: a carry is added to the bytes already
// written, which gives the same bytes. Each symbol stores the next four
// bytes of low whether or not they are final, so that renormalisation needs
// no branch; the stores never pass the E bytes, which end with those four.
std::uint32_t range_encode(const unsigned char* in, std::uint32_t length, const std::uint32_t* cum,
                           std::uint32_t shift, unsigned char* out) {
  std::array<std::uint32_t, 512> sym;  // start and size of every byte value
  for (int s = 0; s < 256; ++s) {
    sym[2 * s] = cum[s];
    sym[2 * s + 1] = cum[s + 1] - cum[s];
  }
  std::uint32_t low = 0;
  std::uint32_t range = kTop;
  out[0] = 0;
  std::size_t p = 1;
  for (std::uint32_t i = 0; i < length; ++i) {
    const std::uint32_t s = in[i];
    const std::uint32_t r = range >> shift;
    const std::uint32_t t = r * sym[2 * s];
    low += t;
    // Byte value 255 keeps all of the remaining range, including what the
    // unit r leaves over at the top.
    range = s == 255 ? range - t : r * sym[2 * s + 1];
    const std::uint32_t carry = low >> 31;
    low &= kTop - 1;
    const std::uint32_t last = out[p - 1] + carry;
    out[p - 1] = static_cast<unsigned char>(last);
    if (last > 0xFF) [[unlikely]] propagate_carry(out, p - 1);
    store_be32(out + p, low << 1);
    const std::uint32_t k = renorm_steps(range);
    p += k;
    low = (low << (8 * k)) & (kTop - 1);
    range <<= 8 * k;
  }
  store_be32(out + p, low << 1);
  return static_cast<std::uint32_t>(p + 4);
}

void SymbolIndex::build(const std::uint32_t* cum, std::uint32_t shift) {
  slice_shift_ = shift > kSliceBits ? shift - kSliceBits : 0;
  const std::uint32_t unit = 1u << slice_shift_;
  // Slice b starts at b * unit; it belongs to the byte value whose interval
  // holds that start.
  for (std::uint32_t s = 0; s < 256; ++s) {
    const std::uint32_t first = (cum[s] + unit - 1) >> slice_shift_;
    const std::uint32_t end = (cum[s + 1] + unit - 1) >> slice_shift_;
    for (std::uint32_t b = first; b < end && b < slice_.size(); ++b) slice_[b] = static_cast<std::uint8_t>(s);
  }
}

namespace {

// The decoder keeps low2 = 2 * low + (lowest bit of the last byte read): the
// coded bytes carry low shifted left by one bit, and low2 takes them as they
// are. Bits above the 33rd play no part.
struct DecoderState {
  std::uint64_t low2;
  std::uint32_t range;
};

enum class Step { kOk, kBad };

// Decodes one byte value, after renormalisation.
inline Step decode_symbol(DecoderState& st, const std::uint32_t* cum, std::uint32_t shift,
                          const SymbolIndex& index, unsigned char* out) {
  const std::uint32_t r = st.range >> shift;
  const std::uint32_t low = static_cast<std::uint32_t>(st.low2 >> 1);
  const std::uint32_t t = low / r;
  std::uint32_t s;
  if (t < cum[256]) [[likely]] {
    s = index.symbol(cum, t);
  } else {
    // Above the table's total only 255 can have been coded, in the range it
    // keeps beyond r * total; without a frequency of its own it cannot.
    if (cum[255] == cum[256]) return Step::kBad;
    s = 255;
  }
  *out = static_cast<unsigned char>(s);
  const std::uint32_t base = r * cum[s];
  st.low2 -= std::uint64_t{base} << 1;
  st.range = s == 255 ? st.range - base : r * (cum[s + 1] - cum[s]);
  return Step::kOk;
}

}  // namespace

void range_decode(const unsigned char* in, unsigned char* out, std::uint32_t length,
                  const std::uint32_t* cum, std::uint32_t shift, const SymbolIndex& index) {
  if (length == 0) return;
  DecoderState st{in[1], 0x80};
  const unsigned char* p = in + 2;
  for (std::uint32_t i = 0; i < length; ++i) {
    while (st.range <= kBottom) {
      st.range <<= 8;
      st.low2 = (st.low2 << 8) | *p++;
    }
    if (decode_symbol(st, cum, shift, index, out + i) == Step::kBad) {
      // Only a corrupt coding gets here; give defined output.
      std::memset(out + i, 0, length - i);
      return;
    }
  }
}

bool range_decode_checked(const unsigned char* in, std::size_t available, unsigned char* out,
                          std::uint32_t length, const std::uint32_t* cum, std::uint32_t shift,
                          const SymbolIndex& index) {
  if (length == 0) return true;
  if (available < 2 || cum[256] == 0) return false;
  DecoderState st{in[1], 0x80};
  std::size_t p = 2;
  std::uint32_t i = 0;
  // While four bytes remain, renormalise without a branch: load them all and
  // take as many as needed.
  while (i < length && available - p >= 4) {
    const std::uint32_t k = renorm_steps(st.range);
    const std::uint64_t next = load_be32(in + p);
    st.low2 = (st.low2 << (8 * k)) | (next >> (32 - 8 * k));
    st.range <<= 8 * k;
    p += k;
    if (decode_symbol(st, cum, shift, index, out + i) == Step::kBad) return false;
    ++i;
  }
  for (; i < length; ++i) {
    while (st.range <= kBottom) {
      if (p >= available) return false;
      st.range <<= 8;
      st.low2 = (st.low2 << 8) | in[p++];
    }
    if (decode_symbol(st, cum, shift, index, out + i) == Step::kBad) return false;
  }
  return true;
}

}  // namespace entropy

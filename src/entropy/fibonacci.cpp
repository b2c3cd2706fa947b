#include "entropy/fibonacci.h"

#include <array>
#include <optional>

namespace {

constexpr std::array<std::uint32_t, 8> kWeights = {1, 2, 3, 5, 8, 13, 21, 34};

// F(m) for m = 1..32 as it is emitted: `bits` holds the code with its first
// bit as the most significant of `length` bits (the closing 1 is the lowest).
struct FibCode {
  std::uint32_t bits = 0;
  std::uint32_t length = 0;
};

constexpr std::array<FibCode, 33> make_fib_codes() {
  std::array<FibCode, 33> codes{};
  for (std::uint32_t m = 1; m <= 32; ++m) {
    std::array<bool, 8> digit{};
    std::uint32_t left = m;
    for (int w = 7; w >= 0; --w) {
      if (kWeights[w] <= left) {
        digit[w] = true;
        left -= kWeights[w];
      }
    }
    int highest = 7;
    while (!digit[highest]) --highest;
    std::uint32_t bits = 0;
    for (int w = 0; w <= highest; ++w) bits = (bits << 1) | (digit[w] ? 1u : 0u);
    codes[m] = {(bits << 1) | 1u, static_cast<std::uint32_t>(highest) + 2};
  }
  return codes;
}

constexpr std::array<FibCode, 33> kFibCodes = make_fib_codes();

// MSB-first bit writer. Bytes are stored when they fill; the partial byte is
// flushed by finish(), which also clears the byte that a table ending on a
// byte boundary has begun.
class BitWriter {
 public:
  explicit BitWriter(unsigned char* out) : out_(out) {}

  // Appends the low `count` bits of `value` (count <= 40), highest first.
  void put(std::uint64_t value, std::uint32_t count) {
    acc_ = (acc_ << count) | value;
    pending_ += count;
    while (pending_ >= 8) {
      pending_ -= 8;
      out_[index_++] = static_cast<unsigned char>(acc_ >> pending_);
    }
    acc_ &= (std::uint64_t{1} << pending_) - 1;
  }

  // G(v) for v >= 1: F(bit length of v), then the bits below v's leading 1.
  void put_universal(std::uint32_t v) {
    const std::uint32_t m = 32 - static_cast<std::uint32_t>(__builtin_clz(v));
    const FibCode& f = kFibCodes[m];
    const std::uint64_t tail = v & ((std::uint64_t{1} << (m - 1)) - 1);
    put((std::uint64_t{f.bits} << (m - 1)) | tail, f.length + m - 1);
  }

  std::uint32_t finish() {
    out_[index_] = static_cast<unsigned char>(acc_ << (8 - pending_));
    return static_cast<std::uint32_t>(index_) + (pending_ != 0 ? 1 : 0);
  }

 private:
  unsigned char* out_;
  std::size_t index_ = 0;
  std::uint64_t acc_ = 0;
  std::uint32_t pending_ = 0;
};

// MSB-first bit reader bounded by `available` bytes. A read past the end
// sets a sticky failure flag and yields 0 bits.
class BitReader {
 public:
  BitReader(const unsigned char* in, std::size_t available) : in_(in), available_(available) {}

  std::uint32_t bit() {
    if (index_ >= available_) {
      overrun_ = true;
      return 0;
    }
    const std::uint32_t b = (in_[index_] & mask_) != 0 ? 1 : 0;
    mask_ >>= 1;
    if (mask_ == 0) {
      mask_ = 0x80;
      ++index_;
    }
    return b;
  }

  // G(v); 0 when the code is malformed or runs past the end.
  std::uint32_t universal() {
    std::uint32_t m = 0;
    std::uint32_t previous = 0;
    for (std::uint32_t position = 0;; ++position) {
      const std::uint32_t b = bit();
      if (overrun_) return 0;
      if (b != 0 && previous != 0) break;
      // The writer's longest prefix ends with the weight 21 and its closing
      // bit; anything longer, or a sum above 32, is not a valid code.
      if (position >= 7) return 0;
      if (b != 0) m += kWeights[position];
      previous = b;
    }
    if (m > 32) return 0;
    std::uint32_t v = 1;
    for (std::uint32_t i = 1; i < m; ++i) v = (v << 1) | bit();
    return overrun_ ? 0 : v;
  }

  std::uint32_t length() const { return static_cast<std::uint32_t>(index_) + (mask_ != 0x80 ? 1 : 0); }

 private:
  const unsigned char* in_;
  std::size_t available_;
  std::size_t index_ = 0;
  std::uint32_t mask_ = 0x80;
  bool overrun_ = false;
};

std::optional<std::uint32_t> decode_table(const unsigned char* in, std::size_t available, std::uint32_t* counts,
                                          int n) {
  BitReader reader(in, available);
  int s = 0;
  while (s < n) {
    const std::uint32_t v = reader.universal();
    if (v == 0) return std::nullopt;
    counts[s] = v - 1;
    if (v != 1) {
      ++s;
      continue;
    }
    const std::uint32_t run = reader.universal();
    if (run == 0) return std::nullopt;
    const int zeros = run < static_cast<std::uint32_t>(n - s) ? static_cast<int>(run) : n - s;
    for (int k = 1; k < zeros; ++k) counts[s + k] = 0;
    s += zeros;
  }
  return reader.length();
}

}  // namespace

std::uint32_t FibonacciEncode2(const std::uint32_t* counts, unsigned char* out, int n) {
  BitWriter writer(out);
  int s = 0;
  while (s < n) {
    writer.put_universal(counts[s] + 1);
    if (counts[s] != 0) {
      ++s;
      continue;
    }
    int run = 1;
    while (s + run < n && counts[s + run] == 0) ++run;
    writer.put_universal(static_cast<std::uint32_t>(run));
    s += run;
  }
  return writer.finish();
}

std::uint32_t FibonacciDecode2(const unsigned char* in, std::uint32_t* counts, int n) {
  // The caller vouches for the table, so no bound applies; a malformed table
  // still ends the read instead of running on.
  const auto length = decode_table(in, static_cast<std::size_t>(-1), counts, n);
  return length.value_or(0);
}

bool FibonacciDecode2Checked(const unsigned char* in, std::size_t available, std::uint32_t* counts, int n,
                             std::uint32_t& length) {
  const std::optional<std::uint32_t> table = decode_table(in, available, counts, n);
  length = table.value_or(0);
  return table.has_value();
}

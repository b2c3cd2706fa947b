#include "entropy/zero_scan.h"

#include <cstring>

#include "entropy/zero_rle.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#define QUELMUX_ZERO_SCAN_SSE2 1
#endif

namespace zero::detail {

namespace {

// Bytes saved by one run of k zeros at each level: k - 2, k - 3, k - 4 for
// runs of at most 256 (nothing for runs too short for the level), and
// roughly the bytes the run takes for longer ones.
Tallies run_tallies(std::int64_t k) {
  Tallies t;
  if (k <= 256) {
    t.s1 = k - 2;
    t.s2 = k >= 2 ? k - 3 : 0;
    t.s3 = k >= 3 ? k - 4 : 0;
  } else {
    t.s1 = 2 * (k / 256) + 2;
    t.s2 = 3 * ((k - k / 256) / 256) + 3;
    t.s3 = 4 * ((k - k / 128) / 256) + 4;
  }
  return t;
}

std::size_t find_zeros_portable(const unsigned char* in, std::size_t from, std::size_t end, int level) {
  const auto width = static_cast<std::size_t>(level);
  if (end - from < width) return from;
  for (std::size_t p = from; p + width <= end; ++p) {
    std::size_t k = 0;
    while (k < width && in[p + k] == 0) ++k;
    if (k == width) return p;
  }
  return end - width + 1;
}

Tallies tally_runs_portable(const unsigned char* in, std::size_t length) {
  Tallies sum;
  std::size_t i = 0;
  while (i < length) {
    if (in[i] != 0) {
      ++i;
      continue;
    }
    std::size_t k = 1;
    while (i + k < length && in[i + k] == 0) ++k;
    i += k;
    const Tallies t = run_tallies(static_cast<std::int64_t>(k));
    sum.s1 += t.s1;
    sum.s2 += t.s2;
    sum.s3 += t.s3;
  }
  return sum;
}

#ifdef QUELMUX_ZERO_SCAN_SSE2

inline unsigned zero_mask(const unsigned char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
}

std::size_t find_zeros_sse2(const unsigned char* in, std::size_t from, std::size_t end, int level) {
  const auto width = static_cast<std::size_t>(level);
  if (end - from < width) return from;
  std::size_t p = from;
  // Each step tests the 16 starts p..p+15, whose bytes end before p + 15 + width.
  while (end - p >= 15 + width) {
    unsigned m = zero_mask(in + p);
    if (level >= 2) m &= zero_mask(in + p + 1);
    if (level >= 3) m &= zero_mask(in + p + 2);
    if (m != 0) return p + static_cast<std::size_t>(__builtin_ctz(m));
    p += 16;
  }
  return find_zeros_portable(in, p, end, level);
}

// First non-zero byte at or after `from`, or `length`.
std::size_t skip_zeros_sse2(const unsigned char* in, std::size_t from, std::size_t length) {
  std::size_t p = from;
  while (length - p >= 16) {
    const unsigned m = zero_mask(in + p) ^ 0xFFFF;
    if (m != 0) return p + static_cast<std::size_t>(__builtin_ctz(m));
    p += 16;
  }
  while (p < length && in[p] == 0) ++p;
  return p;
}

std::int64_t horizontal_sum(__m128i counts) {
  const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
  return _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
}

// With z the zero flags and P_m the number of positions that start m zero
// bytes in a row (P_1 the number of zeros), the tallies of runs of at most
// 256 zeros are s_L = 2 P_(L+1) - P_L: a run of k zeros adds k - m + 1 to
// P_m. The P_m are counted 16 positions at a time; each longer run (it holds
// a whole block of 16 zeros) is measured once and corrected.
Tallies tally_runs_sse2(const unsigned char* in, std::size_t length) {
  std::int64_t pairs[5] = {0, 0, 0, 0, 0};
  Tallies correction;
  std::size_t p = 0;
  std::size_t measured_end = 0;
  const __m128i zero = _mm_setzero_si128();
  while (length - p >= 19) {
    __m128i c1 = zero;
    __m128i c2 = zero;
    __m128i c3 = zero;
    __m128i c4 = zero;
    // Byte counters take at most 255 blocks before they are summed.
    for (int block = 0; block < 255 && length - p >= 19; ++block, p += 16) {
      const auto* q = reinterpret_cast<const __m128i*>(in + p);
      const __m128i z1 = _mm_cmpeq_epi8(_mm_loadu_si128(q), zero);
      const __m128i z2 =
          _mm_and_si128(z1, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + p + 1)), zero));
      const __m128i z3 =
          _mm_and_si128(z2, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + p + 2)), zero));
      const __m128i z4 =
          _mm_and_si128(z3, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + p + 3)), zero));
      c1 = _mm_sub_epi8(c1, z1);
      c2 = _mm_sub_epi8(c2, z2);
      c3 = _mm_sub_epi8(c3, z3);
      c4 = _mm_sub_epi8(c4, z4);
      if (_mm_movemask_epi8(z1) == 0xFFFF && p >= measured_end) [[unlikely]] {
        // A run that began before this block filled the block before it too
        // and was measured there, so its start lies within 16 bytes.
        std::size_t start = p;
        while (start > 0 && in[start - 1] == 0) --start;
        measured_end = skip_zeros_sse2(in, p + 16, length);
        const auto k = static_cast<std::int64_t>(measured_end - start);
        if (k > 256) {
          const Tallies actual = run_tallies(k);
          correction.s1 += actual.s1 - (k - 2);
          correction.s2 += actual.s2 - (k - 3);
          correction.s3 += actual.s3 - (k - 4);
        }
      }
    }
    pairs[1] += horizontal_sum(c1);
    pairs[2] += horizontal_sum(c2);
    pairs[3] += horizontal_sum(c3);
    pairs[4] += horizontal_sum(c4);
  }
  // The last few positions; bytes past the end are not zeros. A run longer
  // than 256 cannot lie here alone: it fills a whole block before.
  for (; p < length; ++p) {
    bool run = true;
    for (std::size_t m = 1; m <= 4 && run; ++m) {
      run = p + m - 1 < length && in[p + m - 1] == 0;
      if (run) ++pairs[m];
    }
  }
  Tallies t;
  t.s1 = 2 * pairs[2] - pairs[1] + correction.s1;
  t.s2 = 2 * pairs[3] - pairs[2] + correction.s2;
  t.s3 = 2 * pairs[4] - pairs[3] + correction.s3;
  return t;
}

inline std::uint64_t zero_mask64(const unsigned char* p) {
  return zero_mask(p) | std::uint64_t{zero_mask(p + 16)} << 16 | std::uint64_t{zero_mask(p + 32)} << 32 |
         std::uint64_t{zero_mask(p + 48)} << 48;
}

// Copies `count` bytes 16 at a time: up to 15 bytes past them are written too.
inline void copy_blocks(unsigned char* out, const unsigned char* in, std::size_t count) {
  for (std::size_t j = 0; j < count; j += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + j)));
  }
}

// A window of 64 bytes: its zero bytes, and the positions that start
// `level` zeros seen whole within it. One mask gives the starts and ends of
// all its runs with bit operations alone, so a run costs a few instructions
// and no memory round trip.
struct Window {
  Window(const unsigned char* p, int level)
      : base(p), zeros(zero_mask64(p)), testable(static_cast<std::size_t>(65 - level)) {
    starts = zeros;
    if (level >= 2) starts &= zeros >> 1;
    if (level >= 3) starts &= zeros >> 2;
    starts &= ~std::uint64_t{0} >> (level - 1);
  }

  // Copies the literal bytes from `pos` (below `testable`) up to the next
  // run start, or when none is left up to the first position the window
  // cannot test, and returns how many; `run` tells which.
  std::size_t literals(std::size_t pos, unsigned char* out, bool& run) const {
    const std::uint64_t ahead = starts >> pos;
    run = ahead != 0;
    const std::size_t count = run ? static_cast<std::size_t>(__builtin_ctzll(ahead)) : testable - pos;
    copy_blocks(out, base + pos, count);
    return count;
  }

  const unsigned char* base;
  std::uint64_t zeros;
  std::uint64_t starts = 0;
  std::size_t testable;  // positions 0 to testable - 1 can start a run seen whole
};

// The coder's steps over windows of 64 input bytes, reloaded where the runs
// leave them. Bytes before a run are copied in blocks of 16 (later stores
// overwrite what a block writes past them). The steps stop short of the end
// of the input, which the byte-wise coder finishes.
Position rle_bulk_sse2(const unsigned char* in, unsigned char* out, std::size_t length, int level) {
  constexpr std::size_t kMargin = 96;  // a window, plus a block copied past it
  if (length < 2 * kMargin) return {};
  const auto width = static_cast<std::size_t>(level);
  const std::size_t longest = 255 + width;
  const std::size_t stop = length - kMargin;
  std::size_t i = 0;
  std::size_t o = 0;
  while (i <= stop) {
    const Window w(in + i, level);
    std::size_t pos = 0;
    while (pos < w.testable) {
      bool run;
      const std::size_t t = w.literals(pos, out + o, run);
      o += t;
      pos += t;
      if (!run) break;
      std::size_t k;
      const std::uint64_t live = ~w.zeros >> pos;
      if (live != 0) {
        k = static_cast<std::size_t>(__builtin_ctzll(live));
      } else {
        // The run reaches the end of the window: measure the rest.
        k = 64 - pos;
        const std::size_t from = i + pos;
        while (k < longest) {
          if (from + k + 16 > length) {
            while (from + k < length && in[from + k] == 0 && k < longest) ++k;
            break;
          }
          const unsigned rest = zero_mask(in + from + k) ^ 0xFFFF;
          if (rest != 0) {
            k += static_cast<std::size_t>(__builtin_ctz(rest));
            break;
          }
          k += 16;
        }
      }
      if (k > longest) k = longest;
      const std::uint32_t unit = static_cast<std::uint32_t>(zero::run_code(static_cast<int>(k - width))) << (8 * width);
      std::memcpy(out + o, &unit, 4);
      o += width + 1;
      pos += k;
    }
    i += pos;
  }
  return {i, o};
}

// Fills `count` bytes with zeros 16 at a time: up to 15 bytes past them too.
inline void zero_blocks(unsigned char* out, std::size_t count) {
  for (std::size_t j = 0; j < count; j += 16)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm_setzero_si128());
}

// The expansion over windows of 64 coded bytes, as rle_bulk_sse2 codes:
// a window's mask finds every unit's start. Literal bytes and runs are written
// in blocks of 16, so every step keeps 80 bytes of output in hand, and a run
// that would leave less is left to the byte-wise expansion.
Position expand_bulk_sse2(const unsigned char* in, std::size_t in_length, unsigned char* out, std::size_t length,
                          int level) {
  constexpr std::size_t kInMargin = 96;   // a window, its last unit's code, a block copied past it
  constexpr std::size_t kOutMargin = 80;  // a window's literal bytes and a block written past them
  const auto width = static_cast<std::size_t>(level);
  std::size_t j = 0;
  std::size_t o = 0;
  while (in_length - j >= kInMargin && length - o >= kOutMargin) {
    const Window w(in + j, level);
    std::size_t pos = 0;
    while (pos < w.testable) {
      bool run;
      const std::size_t t = w.literals(pos, out + o, run);
      o += t;
      pos += t;
      if (!run) break;
      const auto zeros = static_cast<std::size_t>(zero::run_length_of_code(w.base[pos + width])) + width;
      if (length - o < zeros + kOutMargin) {
        // The byte-wise expansion takes over at this unit.
        return {j + pos, o};
      }
      zero_blocks(out + o, zeros);
      o += zeros;
      pos += width + 1;
    }
    j += pos;
  }
  return {j, o};
}

#endif

}  // namespace

std::size_t find_zeros(const unsigned char* in, std::size_t from, std::size_t end, int level, Scan scan) {
#ifdef QUELMUX_ZERO_SCAN_SSE2
  if (scan == Scan::kVector) return find_zeros_sse2(in, from, end, level);
#endif
  (void)scan;
  return find_zeros_portable(in, from, end, level);
}

Position rle_bulk(const unsigned char* in, unsigned char* out, std::size_t length, int level, Scan scan) {
#ifdef QUELMUX_ZERO_SCAN_SSE2
  if (scan == Scan::kVector) return rle_bulk_sse2(in, out, length, level);
#endif
  (void)in;
  (void)out;
  (void)length;
  (void)level;
  (void)scan;
  return {};
}

Position expand_bulk(const unsigned char* in, std::size_t in_length, unsigned char* out, std::size_t length, int level,
                     Scan scan) {
#ifdef QUELMUX_ZERO_SCAN_SSE2
  if (scan == Scan::kVector) return expand_bulk_sse2(in, in_length, out, length, level);
#endif
  (void)in;
  (void)in_length;
  (void)out;
  (void)length;
  (void)level;
  (void)scan;
  return {};
}

Tallies tally_runs(const unsigned char* in, std::size_t length, Scan scan) {
#ifdef QUELMUX_ZERO_SCAN_SSE2
  if (scan == Scan::kVector) return tally_runs_sse2(in, length);
#endif
  (void)scan;
  return tally_runs_portable(in, length);
}

}  // namespace zero::detail

#include "entropy/zero_rle.h"

#include <algorithm>
#include <cstring>

#include "entropy/zero_scan.h"

namespace zero {

namespace detail {

// At level L only runs of at least L zeros change the bytes: a shorter run
// followed by a non-zero byte is copied as it stands. So the coded form is
// the input with every such run replaced by its code, and the bytes between
// runs are copied in blocks.
int rle(const unsigned char* in, unsigned char* out, int length, int level, Scan scan) {
  if (length <= 0 || level < 1 || level > 3) return 0;
  const auto n = static_cast<std::size_t>(length);
  const auto width = static_cast<std::size_t>(level);
  const std::size_t longest = 255 + width;
  const Position bulk = rle_bulk(in, out, n, level, scan);
  std::size_t i = bulk.in;
  std::size_t o = bulk.out;
  while (i < n) {
    const std::size_t p = find_zeros(in, i, n, level, scan);
    if (p + width > n) {
      // No run of `level` zeros is left. A zero tail shorter than that has no
      // follower and is coded as a run of the minimum length.
      std::size_t q = n;
      while (q > i && in[q - 1] == 0) --q;
      std::memcpy(out + o, in + i, q - i);
      o += q - i;
      if (q < n) {
        std::memset(out + o, 0, width);
        o += width;
        out[o++] = run_code(0);
      }
      break;
    }
    std::memcpy(out + o, in + i, p - i);
    o += p - i;
    std::size_t k = width;
    while (p + k < n && in[p + k] == 0 && k < longest) ++k;
    std::memset(out + o, 0, width);
    o += width;
    out[o++] = run_code(static_cast<int>(k - width));
    i = p + k;
  }
  return static_cast<int>(o);
}

}  // namespace detail

int RLE(const unsigned char* in, unsigned char* out, int length, int level) {
  return detail::rle(in, out, length, level, detail::kFastestScan);
}

namespace {

// The reading rules, one coded unit at a time, from coded position j and
// output position o. The checked form bounds every read of `in` and reports
// a coding that ends early (-1).
template <bool Checked>
int expand(const unsigned char* in, std::size_t in_length, unsigned char* out, int length, int level, std::size_t j,
           int o) {
  if (length <= 0 || level < 1 || level > 3) return Checked ? -1 : 0;
  auto need = [&](std::size_t count) { return !Checked || in_length - j >= count; };
  auto zeros = [&](int count) {
    const int n = count < length - o ? count : length - o;
    std::memset(out + o, 0, static_cast<std::size_t>(n));
    o += n;
  };
  auto put = [&](unsigned char b) {
    if (o < length) out[o++] = b;
  };
  while (o < length) {
    if (!need(1)) return -1;
    const unsigned char b = in[j];
    if (b != 0) {
      out[o++] = b;
      ++j;
      continue;
    }
    if (!need(2)) return -1;
    if (level == 1) {
      zeros(run_length_of_code(in[j + 1]) + 1);
      j += 2;
      continue;
    }
    if (in[j + 1] != 0) {
      put(0);
      put(in[j + 1]);
      j += 2;
      continue;
    }
    if (!need(3)) return -1;
    if (level == 2) {
      zeros(run_length_of_code(in[j + 2]) + 2);
      j += 3;
      continue;
    }
    if (in[j + 2] != 0) {
      put(0);
      put(0);
      put(in[j + 2]);
      j += 3;
      continue;
    }
    if (!need(4)) return -1;
    zeros(run_length_of_code(in[j + 3]) + 3);
    j += 4;
  }
  return static_cast<int>(j);
}

}  // namespace

namespace detail {

// Between run codes the coded form is the plane's bytes as they stand, so
// it is copied in blocks up to the next `level` zero bytes (a run code). The
// last few bytes of either buffer are left to the unit-by-unit reader, which
// cuts a unit that crosses the end of the plane exactly as deRLE does.
bool checked_expand(const unsigned char* in, std::size_t in_length, unsigned char* out, int length, int level,
                    Scan scan, std::size_t& consumed) {
  if (length <= 0 || level < 1 || level > 3) return false;
  constexpr std::size_t kSlack = 4;  // the longest unit
  const auto n = static_cast<std::size_t>(length);
  const auto width = static_cast<std::size_t>(level);
  const Position bulk = expand_bulk(in, in_length, out, n, level, scan);
  std::size_t j = bulk.in;
  std::size_t o = bulk.out;
  while (true) {
    const std::size_t room = std::min(n - o, in_length - j);
    if (room < 2 * kSlack) break;
    const std::size_t end = j + room - kSlack;
    const std::size_t p = find_zeros(in, j, end, level, scan);
    std::memcpy(out + o, in + j, p - j);
    o += p - j;
    j = p;
    if (p + width > end) continue;  // no run code inside the window
    const auto zeros = static_cast<std::size_t>(run_length_of_code(in[p + width])) + width;
    if (zeros > n - o) break;  // the run reaches the end of the plane
    std::memset(out + o, 0, zeros);
    o += zeros;
    j = p + width + 1;
  }
  const int used = expand<true>(in, in_length, out, length, level, j, static_cast<int>(o));
  consumed = static_cast<std::size_t>(used);
  return used >= 0;
}

}  // namespace detail

int deRLE(const unsigned char* in, unsigned char* out, int length, int level) {
  return expand<false>(in, 0, out, length, level, 0, 0);
}

bool checkedDeRLE(const unsigned char* in, std::size_t in_length, unsigned char* out, int length, int level,
                  std::size_t& consumed) {
  return detail::checked_expand(in, in_length, out, length, level, detail::kFastestScan, consumed);
}

namespace detail {

int test_rle(const unsigned char* in, int length, int threshold, Scan scan) {
  const Tallies t = length > 0 ? tally_runs(in, static_cast<std::size_t>(length), scan) : Tallies{};
  if (t.s1 >= threshold && t.s1 >= t.s2 && t.s1 >= t.s3) return 1;
  if (t.s2 >= threshold && t.s2 >= t.s3) return 2;
  if (t.s3 >= threshold) return 3;
  return 0;
}

}  // namespace detail

int testRLE(const unsigned char* in, int length, int threshold) {
  return detail::test_rle(in, length, threshold, detail::kFastestScan);
}

}  // namespace zero

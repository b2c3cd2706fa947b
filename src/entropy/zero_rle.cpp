#include "entropy/zero_rle.h"

#include <cstring>

namespace zero {

int RLE(const unsigned char* in, unsigned char* out, int length, int level) {
  if (length <= 0 || level < 1 || level > 3) return 0;
  // A position past the end of the input reads as a zero byte.
  auto at = [&](int p) -> unsigned char { return p < length ? in[p] : 0; };
  const int longest = 255 + level;
  int i = 0;
  int o = 0;
  while (i < length) {
    const unsigned char b = in[i];
    if (b != 0) {
      out[o++] = b;
      ++i;
      continue;
    }
    if (level >= 2 && at(i + 1) != 0) {
      out[o++] = 0;
      out[o++] = in[i + 1];
      i += 2;
      continue;
    }
    if (level == 3 && at(i + 2) != 0) {
      out[o++] = 0;
      out[o++] = 0;
      out[o++] = in[i + 2];
      i += 3;
      continue;
    }
    int k = level;
    while (i + k < length && in[i + k] == 0 && k < longest) ++k;
    for (int z = 0; z < level; ++z) out[o++] = 0;
    out[o++] = run_code(k - level);
    i += k;
  }
  return o;
}

namespace {

// One decoder for both forms: the checked one bounds every read of `in` and
// reports a coding that ends early.
template <bool Checked>
int expand(const unsigned char* in, std::size_t in_length, unsigned char* out, int length,
           int level) {
  if (length <= 0 || level < 1 || level > 3) return Checked ? -1 : 0;
  std::size_t j = 0;
  int o = 0;
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

int deRLE(const unsigned char* in, unsigned char* out, int length, int level) {
  return expand<false>(in, 0, out, length, level);
}

int checkedDeRLE(const unsigned char* in, std::size_t in_length, unsigned char* out, int length,
                 int level) {
  return expand<true>(in, in_length, out, length, level);
}

int testRLE(const unsigned char* in, int length, int threshold) {
  int s1 = 0;
  int s2 = 0;
  int s3 = 0;
  int i = 0;
  while (i < length) {
    if (in[i] != 0) {
      ++i;
      continue;
    }
    int k = 1;
    while (i + k < length && in[i + k] == 0) ++k;
    i += k;
    if (k <= 256) {
      s1 += k - 2;
      if (k >= 2) s2 += k - 3;
      if (k >= 3) s3 += k - 4;
    } else {
      s1 += 2 * (k / 256) + 2;
      s2 += 3 * ((k - k / 256) / 256) + 3;
      s3 += 4 * ((k - k / 128) / 256) + 4;
    }
  }
  if (s1 >= threshold && s1 >= s2 && s1 >= s3) return 1;
  if (s2 >= threshold && s2 >= s3) return 2;
  if (s3 >= threshold) return 3;
  return 0;
}

}  // namespace zero

#include "codec/prediction.h"

#include <cstddef>

#include "codec/prediction_median.h"

using prediction_detail::predict;

int median(int x, int y, int z) {
  if (x < y) {
    if (y <= z) return y;
    return x <= z ? z : x;
  }
  if (z < y) return y;
  return z >= x ? x : z;
}

namespace {

using Byte = unsigned char;

template <std::size_t PS>
void de_entropy(Byte* in, Byte* out, int width, int height) {
  if (width <= 0 || height <= 0) return;
  const std::size_t row = PS * static_cast<std::size_t>(width);
  const std::size_t total = row * static_cast<std::size_t>(height);

  for (std::size_t i = 0; i < total; i += PS) {
    in[i] = static_cast<Byte>(in[i] - in[i + 1]);
    in[i + 2] = static_cast<Byte>(in[i + 2] - in[i + 1]);
  }

  for (std::size_t i = 0; i < PS; ++i) out[i] = in[i];
  for (std::size_t i = PS; i < row; ++i) out[i] = static_cast<Byte>(in[i] - in[i - PS]);
  if (height == 1) return;
  for (std::size_t i = row; i < row + PS; ++i) out[i] = static_cast<Byte>(in[i] - in[i - row]);
  for (std::size_t i = row + PS; i < total; ++i) {
    out[i] = static_cast<Byte>(in[i] - predict(in[i - PS], in[i - row], in[i - row - PS]));
  }
}

}  // namespace

void DeEntropy(unsigned char* in, unsigned char* out, int width, int height) { de_entropy<3>(in, out, width, height); }

void DeEntropy32(unsigned char* in, unsigned char* out, int width, int height) {
  de_entropy<4>(in, out, width, height);
}

void blockDeEntropy(const unsigned char* in, unsigned char* out, int stride, int length) {
  if (length <= 0 || stride < 0) return;
  const std::size_t n = static_cast<std::size_t>(length);
  const std::size_t s = static_cast<std::size_t>(stride);
  out[0] = in[0];
  for (std::size_t i = 1; i <= s && i < n; ++i) out[i] = static_cast<Byte>(in[i] - in[i - 1]);
  for (std::size_t i = s + 1; i < n; ++i) {
    out[i] = static_cast<Byte>(in[i] - predict(in[i - 1], in[i - s], in[i - s - 1]));
  }
}

// The prediction written straight from its rules, as the yardstick for the
// library's loops: one byte at a time, with positions counted the long way.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace reference {

using Bytes = std::vector<unsigned char>;

inline int middle(int x, int y, int z) {
  int v[3] = {x, y, z};
  std::sort(v, v + 3);
  return v[1];
}

inline Bytes decorrelate(Bytes frame, int pixel_size) {
  for (std::size_t i = 0; i < frame.size(); i += static_cast<std::size_t>(pixel_size)) {
    frame[i] = static_cast<unsigned char>(frame[i] - frame[i + 1]);
    frame[i + 2] = static_cast<unsigned char>(frame[i + 2] - frame[i + 1]);
  }
  return frame;
}

// Residuals of a frame, pixel-interleaved.
inline Bytes residuals(const Bytes& frame, int width, int height, int pixel_size) {
  const Bytes in = decorrelate(frame, pixel_size);
  const long long ps = pixel_size;
  const long long row = ps * width;
  const long long total = row * height;
  Bytes out(static_cast<std::size_t>(total));
  for (long long i = 0; i < total; ++i) {
    int prediction;
    if (i < ps) {
      prediction = 0;
    } else if (i < row) {
      prediction = in[i - ps];
    } else if (i < row + ps) {
      prediction = in[i - row];
    } else {
      const int l = in[i - ps], a = in[i - row], d = in[i - row - ps];
      prediction = middle(l, a, l + a - d);
    }
    out[i] = static_cast<unsigned char>(in[i] - prediction);
  }
  return out;
}

// Plane k holds byte k of every pixel.
inline std::vector<Bytes> split(const Bytes& interleaved, int pixel_size) {
  const std::size_t ps = static_cast<std::size_t>(pixel_size);
  std::vector<Bytes> planes(ps, Bytes(interleaved.size() / ps));
  for (std::size_t i = 0; i < interleaved.size(); ++i) planes[i % ps][i / ps] = interleaved[i];
  return planes;
}

}  // namespace reference

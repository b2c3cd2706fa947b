// Contents for the entropy coder's tests.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace testdata {

using Bytes = std::vector<unsigned char>;

inline Bytes random_bytes(std::size_t n, std::uint32_t seed) {
  Bytes b(n);
  std::mt19937 rng(seed);
  for (auto& x : b) x = static_cast<unsigned char>(rng() >> 24);
  return b;
}

// Mostly zeros, with a non-zero byte at roughly one position in `every`.
inline Bytes sparse_bytes(std::size_t n, unsigned every, std::uint32_t seed) {
  Bytes b(n, 0);
  std::mt19937 rng(seed);
  for (auto& x : b) {
    if (rng() % every == 0) x = static_cast<unsigned char>(1 + rng() % 255);
  }
  return b;
}

// Small values around 0 (modulo 256), as prediction residuals are: a
// two-sided geometric distribution of the given spread.
inline Bytes residual_like(std::size_t n, double spread, std::uint32_t seed) {
  Bytes b(n);
  std::mt19937 rng(seed);
  std::geometric_distribution<int> magnitude(1.0 / (1.0 + spread));
  for (auto& x : b) {
    const int m = magnitude(rng);
    x = static_cast<unsigned char>((rng() & 1) != 0 ? m : -m);
  }
  return b;
}

// Only the byte values 128 to 255.
inline Bytes high_half(std::size_t n, std::uint32_t seed) {
  Bytes b = random_bytes(n, seed);
  for (auto& x : b) x |= 0x80;
  return b;
}

// A named content generator, for parameterised cases.
struct Content {
  std::string name;
  Bytes (*make)(std::size_t n, std::uint32_t seed);
};

inline const std::vector<Content>& contents() {
  static const std::vector<Content> all = {
      {"random", [](std::size_t n, std::uint32_t s) { return random_bytes(n, s); }},
      {"sparse", [](std::size_t n, std::uint32_t s) { return sparse_bytes(n, 40, s); }},
      {"residuals", [](std::size_t n, std::uint32_t s) { return residual_like(n, 3.0, s); }},
      {"one_value", [](std::size_t n, std::uint32_t s) { return Bytes(n, static_cast<unsigned char>(s)); }},
      {"high_half", [](std::size_t n, std::uint32_t s) { return high_half(n, s); }},
      {"zeros", [](std::size_t n, std::uint32_t) { return Bytes(n, 0); }},
  };
  return all;
}

}  // namespace testdata

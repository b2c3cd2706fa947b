// Contents for the entropy coder's tests.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace testdata {

using Bytes = std::vector<unsigned char>;

// Each byte is drawn by `pick` from a seeded generator.
template <typename Pick>
Bytes make(std::size_t n, std::uint32_t seed, Pick pick) {
  Bytes b(n);
  std::mt19937 rng(seed);
  for (auto& x : b) x = static_cast<unsigned char>(pick(rng));
  return b;
}

inline Bytes random_bytes(std::size_t n, std::uint32_t seed) {
  return make(n, seed, [](std::mt19937& r) { return r() >> 24; });
}

// Mostly zeros, a non-zero byte at about one position in `every`.
inline Bytes sparse_bytes(std::size_t n, unsigned every, std::uint32_t seed) {
  return make(n, seed, [every](std::mt19937& r) { return r() % every == 0 ? 1 + r() % 255 : 0; });
}

// Small values around 0 modulo 256, as prediction residuals are.
inline Bytes residual_like(std::size_t n, double spread, std::uint32_t seed) {
  std::geometric_distribution<int> magnitude(1.0 / (1.0 + spread));
  return make(n, seed, [&](std::mt19937& r) {
    const int m = magnitude(r);
    return (r() & 1) != 0 ? m : -m;
  });
}

struct Content {
  std::string name;
  Bytes (*make)(std::size_t n, std::uint32_t seed);
};

inline const std::vector<Content>& contents() {
  static const std::vector<Content> all = {
      {"random", random_bytes},
      {"sparse", [](std::size_t n, std::uint32_t s) { return sparse_bytes(n, 40, s); }},
      {"residuals", [](std::size_t n, std::uint32_t s) { return residual_like(n, 3.0, s); }},
      {"one_value", [](std::size_t n, std::uint32_t s) { return Bytes(n, static_cast<unsigned char>(s)); }},
      {"high_half",
       [](std::size_t n, std::uint32_t s) { return make(n, s, [](std::mt19937& r) { return 0x80 | r(); }); }},
      {"zeros", [](std::size_t n, std::uint32_t) { return Bytes(n, 0); }},
      // Rare values need several renormalisation steps, and long runs of 0xFF
      // in the output carry carries.
      {"skewed",
       [](std::size_t n, std::uint32_t s) {
         return make(n, s, [s](std::mt19937& r) { return r() % (2 + s % 2000) ? 1 + s % 255 : r(); });
       }},
  };
  return all;
}

}  // namespace testdata

#include "mov/atom_search.h"

#include <cstddef>
#include <cstring>

namespace {

// Whether the tag's last three bytes follow offset i, bytes at or past `size`
// taken as zero.
bool tail_matches(const unsigned char* p, std::size_t size, std::size_t i, const unsigned char* tag) {
  if (size - i >= 4) return std::memcmp(p + i + 1, tag + 1, 3) == 0;
  for (std::size_t k = 1; k < 4; ++k) {
    const unsigned char b = i + k < size ? p[i + k] : 0;
    if (b != tag[k]) return false;
  }
  return true;
}

}  // namespace

bool findtag(unsigned char*& position, const char* tag, int& window) {
  const auto* t = reinterpret_cast<const unsigned char*>(tag);
  if (window > 0) {
    const auto size = static_cast<std::size_t>(window);
    const unsigned char* p = position;
    // memchr skips to the candidates far faster than a bytewise compare loop.
    std::size_t i = 0;
    while (i < size) {
      const void* hit = std::memchr(p + i, t[0], size - i);
      if (hit == nullptr) break;
      i = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - p);
      if (tail_matches(p, size, i, t)) {
        position += i;
        window -= static_cast<int>(i);
        return true;
      }
      ++i;
    }
  }
  return false;
}

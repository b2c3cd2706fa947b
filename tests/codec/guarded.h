// A buffer with guard bytes on both sides, to catch writes outside it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

class Guarded {
 public:
  using Bytes = std::vector<unsigned char>;

  static constexpr std::size_t kGuard = 64;
  static constexpr unsigned char kFill = 0xA5;

  explicit Guarded(std::size_t size, unsigned char fill = 0xEE) : bytes_(size + 2 * kGuard, kFill), size_(size) {
    std::fill(data(), data() + size_, fill);
  }
  explicit Guarded(const Bytes& content) : Guarded(content.size()) {
    std::copy(content.begin(), content.end(), data());
  }
  unsigned char* data() { return bytes_.data() + kGuard; }
  const unsigned char* data() const { return bytes_.data() + kGuard; }
  Bytes content() const { return Bytes(bytes_.begin() + kGuard, bytes_.begin() + static_cast<long>(kGuard + size_)); }
  bool guards_intact() const {
    for (std::size_t i = 0; i < kGuard; ++i) {
      if (bytes_[i] != kFill || bytes_[kGuard + size_ + i] != kFill) return false;
    }
    return true;
  }

 private:
  Bytes bytes_;
  std::size_t size_;
};

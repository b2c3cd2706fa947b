// ByteSource: random-access reads from a file or from a memory buffer, at
// 64-bit offsets, so that the AVI reader parses both the same way.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>

namespace avi {

class ByteSource {
 public:
  ByteSource() = default;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  // Reads from the file at `path`; false when it cannot be opened or sized.
  bool open(const std::filesystem::path& path);
  // Reads from `bytes`, which must outlive the source.
  void open(std::span<const std::uint8_t> bytes);

  std::uint64_t size() const { return size_; }

  // Fills `out` from `offset` on; false unless every byte lies within the
  // source and could be read.
  bool read(std::uint64_t offset, std::span<std::uint8_t> out);

 private:
  std::ifstream file_;
  std::span<const std::uint8_t> memory_;
  bool from_file_ = false;
  std::uint64_t size_ = 0;
};

}  // namespace avi

// ByteSource: random-access reads from a file, from a memory buffer or through
// a caller's read function (a media framework's upstream element), at 64-bit
// offsets, so that the AVI reader parses them all the same way.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
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
  // Reads `size` bytes through `read`, which fills `out` from `offset` on and
  // returns false when it cannot; it is called only within those bytes.
  using ReadFunction = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> out)>;
  void open(std::uint64_t size, ReadFunction read);

  std::uint64_t size() const { return size_; }

  // Fills `out` from `offset` on; false unless every byte lies within the
  // source and could be read.
  bool read(std::uint64_t offset, std::span<std::uint8_t> out);

 private:
  std::ifstream file_;
  std::span<const std::uint8_t> memory_;
  ReadFunction read_;
  bool from_file_ = false;
  std::uint64_t size_ = 0;
};

}  // namespace avi

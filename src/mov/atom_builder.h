// Builds QuickTime atoms in memory: big-endian fields, nested atoms whose
// sizes are filled in when they are closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace movgen {

class AtomBuilder {
 public:
  // Opens an atom with a 32-bit size, closed by end().
  AtomBuilder& begin(const char* tag);
  AtomBuilder& end();
  // Opens a version-0 "full" atom: the tag followed by version 0 and `flags`.
  AtomBuilder& begin_full(const char* tag, std::uint32_t flags = 0);

  AtomBuilder& u8(std::uint8_t v);
  AtomBuilder& u16(std::uint16_t v);
  AtomBuilder& u32(std::uint32_t v);
  AtomBuilder& u64(std::uint64_t v);
  AtomBuilder& fourcc(const char* code);  // four bytes as they stand
  AtomBuilder& zeros(std::size_t count);
  AtomBuilder& bytes(std::span<const std::uint8_t> data);
  // A counted string in a field of `field_size` bytes (0: just as long as needed).
  AtomBuilder& pascal_string(const char* text, std::size_t field_size = 0);
  // The identity transformation matrix of movie and track headers.
  AtomBuilder& unity_matrix();

  std::size_t size() const { return data_.size(); }
  const std::vector<std::uint8_t>& data() const { return data_; }
  std::vector<std::uint8_t> take() { return std::move(data_); }

 private:
  std::vector<std::uint8_t> data_;
  std::vector<std::size_t> open_;
};

}  // namespace movgen

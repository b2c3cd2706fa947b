#include "mov/atom_builder.h"

#include <cassert>
#include <cstring>

namespace movgen {

AtomBuilder& AtomBuilder::begin(const char* tag) {
  open_.push_back(data_.size());
  return u32(0).fourcc(tag);
}

AtomBuilder& AtomBuilder::begin_full(const char* tag, std::uint32_t flags) {
  return begin(tag).u32(flags & 0x00FFFFFF);
}

AtomBuilder& AtomBuilder::end() {
  assert(!open_.empty());
  const std::size_t start = open_.back();
  open_.pop_back();
  const auto size = static_cast<std::uint32_t>(data_.size() - start);
  for (int k = 0; k < 4; ++k) data_[start + k] = static_cast<std::uint8_t>(size >> (24 - 8 * k));
  return *this;
}

AtomBuilder& AtomBuilder::u8(std::uint8_t v) {
  data_.push_back(v);
  return *this;
}

AtomBuilder& AtomBuilder::u16(std::uint16_t v) {
  return u8(static_cast<std::uint8_t>(v >> 8)).u8(static_cast<std::uint8_t>(v));
}

AtomBuilder& AtomBuilder::u32(std::uint32_t v) {
  return u16(static_cast<std::uint16_t>(v >> 16)).u16(static_cast<std::uint16_t>(v));
}

AtomBuilder& AtomBuilder::u64(std::uint64_t v) {
  return u32(static_cast<std::uint32_t>(v >> 32)).u32(static_cast<std::uint32_t>(v));
}

AtomBuilder& AtomBuilder::fourcc(const char* code) {
  data_.insert(data_.end(), code, code + 4);
  return *this;
}

AtomBuilder& AtomBuilder::zeros(std::size_t count) {
  data_.insert(data_.end(), count, 0);
  return *this;
}

AtomBuilder& AtomBuilder::bytes(std::span<const std::uint8_t> data) {
  data_.insert(data_.end(), data.begin(), data.end());
  return *this;
}

AtomBuilder& AtomBuilder::pascal_string(const char* text, std::size_t field_size) {
  std::size_t length = std::strlen(text);
  if (field_size != 0 && length > field_size - 1) length = field_size - 1;
  if (length > 255) length = 255;
  u8(static_cast<std::uint8_t>(length));
  data_.insert(data_.end(), text, text + length);
  if (field_size > length + 1) zeros(field_size - length - 1);
  return *this;
}

AtomBuilder& AtomBuilder::unity_matrix() {
  const std::uint32_t m[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
  for (std::uint32_t v : m) u32(v);
  return *this;
}

}  // namespace movgen

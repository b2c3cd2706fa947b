// Helpers of the AVI tests: little-endian fields, the header area as the
// layout tables give it, files written through AviWriter, RIFF pieces.
#pragma once

#include "avi/avi_reader.h"
#include "avi/avi_template.h"
#include "avi/avi_writer.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace avitest {

using Bytes = std::vector<std::uint8_t>;

inline std::uint32_t u32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16) |
         static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}
inline std::string tag(const Bytes& b, std::size_t at) { return {b.begin() + at, b.begin() + at + 4}; }
inline void set_u32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void set_tag(Bytes& b, std::size_t at, const char* t) { std::memcpy(&b.at(at), t, 4); }
inline Bytes& operator+=(Bytes& b, const Bytes& more) {
  b.insert(b.end(), more.begin(), more.end());
  return b;
}
inline Bytes operator+(Bytes a, const Bytes& b) { return a += b; }
inline Bytes words(std::initializer_list<std::uint32_t> values) {
  Bytes b(4 * values.size());
  std::size_t at = 0;
  for (const std::uint32_t v : values) set_u32(b, (at += 4) - 4, v);
  return b;
}
inline Bytes fcc(const char* t) { return Bytes(t, t + 4); }

// `size` bytes of a pattern that differs with `seed`.
inline Bytes pattern(std::size_t size, std::uint8_t seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(seed * 31 + 7 * i + 1);
  return b;
}

struct Stream {
  int width = 2, height = 2, rate = 600, scale = 20, compressed = 0;
};

// Writes `frames` through an AviWriter, each from a buffer with 3 spare bytes
// behind it, checks that those bytes were zeroed, and returns the file.
inline Bytes write_avi(const std::filesystem::path& path, const std::vector<Bytes>& frames, const Stream& s = {},
                       const std::vector<int>& flags = {}, std::uint64_t part_limit = AviWriter::kDefaultPartLimit) {
  const std::string name = path.string();
  AviWriter writer(part_limit);
  EXPECT_TRUE(writer.init(name.c_str(), s.width, s.height, s.rate, s.scale, s.compressed));
  for (std::size_t i = 0; i < frames.size(); ++i) {
    Bytes buffer = frames[i];
    buffer.insert(buffer.end(), 3, 0xEE);
    EXPECT_TRUE(
        writer.write_frame(buffer.data(), static_cast<int>(frames[i].size()), i < flags.size() ? flags[i] : 0x10));
    EXPECT_EQ(Bytes(buffer.end() - 3, buffer.end()), Bytes(3, 0)) << "frame " << i;
  }
  EXPECT_TRUE(writer.flush());
  return testsupport::read_file(path);
}

// The header area of a finished file, from the layout tables: `frames` in the
// first RIFF, "movi" size, largest frame + 4, RIFF size.
inline Bytes expected_header(const Stream& s, std::uint32_t period, std::uint32_t frames, std::uint32_t movi,
                             std::uint32_t suggested, std::uint32_t riff) {
  const auto w = static_cast<std::uint32_t>(s.width), h = static_cast<std::uint32_t>(s.height);
  Bytes b(8204, 0);
  const std::pair<std::size_t, const char*> tags[] = {
      {0x0, "RIFF"},    {0x8, "AVI "},    {0xC, "LIST"},    {0x14, "hdrl"},   {0x18, "avih"},  {0x58, "LIST"},
      {0x60, "strl"},   {0x64, "strh"},   {0x6C, "vids"},   {0xA4, "strf"},   {0xD4, "JUNK"},  {0x10F4, "LIST"},
      {0x10FC, "odml"}, {0x1100, "dmlh"}, {0x1200, "JUNK"}, {0x2000, "LIST"}, {0x2008, "movi"}};
  for (const auto& [at, t] : tags) set_tag(b, at, t);
  set_tag(b, 0x70, s.compressed != 0 ? "crvt" : "DIB ");
  set_tag(b, 0xBC, s.compressed != 0 ? "CRVT" : "\0\0\0\0");
  // Bitmap rows are filled to 4 bytes; Corvath codes packed rows.
  const std::uint32_t image = (s.compressed != 0 ? 3 * w : (3 * w + 3) & ~3u) * h;
  const std::uint32_t scale = static_cast<std::uint32_t>(s.scale), rate = static_cast<std::uint32_t>(s.rate);
  // rcFrame 352 x 240, and biPlanes 1 with biBitCount 24, go as pairs of 16-bit fields.
  const std::pair<std::size_t, std::uint32_t> fields[] = {
      {0x4, riff},   {0x10, 4588},   {0x1C, 56},        {0x20, period},   {0x2C, 0x10},     {0x30, frames},
      {0x38, 1},     {0x40, w},      {0x44, h},         {0x5C, 4244},     {0x68, 56},       {0x80, scale},
      {0x84, rate},  {0x8C, frames}, {0x90, suggested}, {0x94, 10000},    {0xA0, 0xF00160}, {0xA8, 40},
      {0xAC, 40},    {0xB0, w},      {0xB4, h},         {0xB8, 0x180001}, {0xC0, image},    {0xD8, 4120},
      {0x10F8, 260}, {0x1104, 248},  {0x1108, 1},       {0x1204, 3576},   {0x2004, movi}};
  for (const auto& [at, v] : fields) set_u32(b, at, v);
  std::memcpy(&b[0x1208], avi::kCreditText, sizeof avi::kCreditText);
  return b;
}

// RIFF pieces for hand-made files.
inline Bytes chunk(const char* id, const Bytes& data, std::size_t fill = 2) {
  Bytes b = fcc(id) + words({static_cast<std::uint32_t>(data.size())}) + data;
  b.resize((b.size() + fill - 1) / fill * fill, 0);
  return b;
}
inline Bytes list(const char* type, const Bytes& body, const char* id = "LIST") {
  return fcc(id) + words({static_cast<std::uint32_t>(body.size() + 4)}) + fcc(type) + body;
}
inline Bytes strh(const char* type, std::uint32_t rate, std::uint32_t scale, std::uint32_t length,
                  std::size_t size = 56) {
  Bytes b = fcc(type) + fcc("TEST") + words({0, 0, 0, scale, rate, 0, length});
  b.resize(size, 0);
  return b;
}
inline Bytes bitmap(std::int32_t width, std::int32_t height, const char* compression = "\0\0\0\0") {
  return words({40, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), 1 | 24 << 16}) +
         fcc(compression) + Bytes(20, 0);
}

// Every frame the reader found, read back.
inline std::vector<Bytes> read_all(avi::AviReader& reader) {
  std::vector<Bytes> out;
  Bytes buffer(reader.largest_frame());
  for (std::size_t i = 0; i < reader.frames().size(); ++i) {
    EXPECT_EQ(reader.read_frame(i, buffer).message, "");
    out.emplace_back(buffer.begin(), buffer.begin() + reader.frames()[i].size);
  }
  return out;
}

}  // namespace avitest

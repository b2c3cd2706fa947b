// Helpers of the AVI tests: little-endian fields, the header image as the
// layout tables describe it, files written through AviWriter, and hand-made
// RIFF files.
#pragma once

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

// The exact length of the finished file of `frames` frames of `length` bytes
// each, as the writer plans its parts; UINT64_MAX when no file holds them.
inline std::uint64_t final_file_length(std::uint64_t frames, std::uint64_t length,
                                       std::uint64_t limit = AviWriter::kDefaultPartLimit) {
  const avi::layout::PartPlan plan = avi::layout::plan_parts(frames, length, limit, INT_MAX);
  return plan.parts == 0 ? UINT64_MAX : plan.file_length;
}

using Bytes = std::vector<std::uint8_t>;

inline std::uint32_t u32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b.at(at)) | static_cast<std::uint32_t>(b.at(at + 1)) << 8 |
         static_cast<std::uint32_t>(b.at(at + 2)) << 16 | static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}
inline std::uint16_t u16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8);
}
inline std::string tag(const Bytes& b, std::size_t at) {
  return std::string(reinterpret_cast<const char*>(b.data()) + at, 4);
}
inline void set_u32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void set_tag(Bytes& b, std::size_t at, const char* t) { std::memcpy(&b.at(at), t, 4); }
inline void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
inline Bytes concat(Bytes a, const Bytes& b) {
  append(a, b);
  return a;
}
inline void append_u32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void append_tag(Bytes& b, const char* t) { b.insert(b.end(), t, t + 4); }

// `size` bytes of a pattern that differs with `seed`.
inline Bytes pattern(std::size_t size, std::uint8_t seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(seed * 31 + 7 * i + 1);
  return b;
}

// The 8204-byte header area with the fixed fields of the layout tables and
// every start and close field 0.
inline Bytes empty_header_image() {
  Bytes h(8204, 0);
  auto u16put = [&](std::size_t at, std::uint16_t v) {
    h[at] = static_cast<std::uint8_t>(v);
    h[at + 1] = static_cast<std::uint8_t>(v >> 8);
  };
  set_tag(h, 0x0000, "RIFF");
  set_tag(h, 0x0008, "AVI ");
  set_tag(h, 0x000C, "LIST");
  set_u32(h, 0x0010, 4588);
  set_tag(h, 0x0014, "hdrl");
  set_tag(h, 0x0018, "avih");
  set_u32(h, 0x001C, 56);
  set_u32(h, 0x002C, 0x10);
  set_u32(h, 0x0038, 1);
  set_tag(h, 0x0058, "LIST");
  set_u32(h, 0x005C, 4244);
  set_tag(h, 0x0060, "strl");
  set_tag(h, 0x0064, "strh");
  set_u32(h, 0x0068, 56);
  set_tag(h, 0x006C, "vids");
  set_u32(h, 0x0094, 10000);
  u16put(0x00A0, 352);
  u16put(0x00A2, 240);
  set_tag(h, 0x00A4, "strf");
  set_u32(h, 0x00A8, 40);
  set_u32(h, 0x00AC, 40);
  u16put(0x00B8, 1);
  u16put(0x00BA, 24);
  set_tag(h, 0x00D4, "JUNK");
  set_u32(h, 0x00D8, 4120);
  set_tag(h, 0x10F4, "LIST");
  set_u32(h, 0x10F8, 260);
  set_tag(h, 0x10FC, "odml");
  set_tag(h, 0x1100, "dmlh");
  set_u32(h, 0x1104, 248);
  set_u32(h, 0x1108, 1);
  set_tag(h, 0x1200, "JUNK");
  set_u32(h, 0x1204, 3576);
  set_tag(h, 0x2000, "LIST");
  set_tag(h, 0x2008, "movi");
  return h;
}

struct Stream {
  int width = 2;
  int height = 2;
  int rate = 600;
  int scale = 20;
  int compressed = 0;
};

// Writes `frames` through an AviWriter with the given part limit, each from a
// buffer with 3 spare bytes behind it, checks that those bytes were zeroed,
// and returns the file.
inline Bytes write_avi(const std::filesystem::path& path, const std::vector<Bytes>& frames, const Stream& s = {},
                       const std::vector<int>& flags = {}, std::uint64_t part_limit = AviWriter::kDefaultPartLimit) {
  const std::string name = path.string();
  AviWriter writer(part_limit);
  EXPECT_TRUE(writer.init(name.c_str(), s.width, s.height, s.rate, s.scale, s.compressed));
  for (std::size_t i = 0; i < frames.size(); ++i) {
    Bytes buffer = frames[i];
    buffer.insert(buffer.end(), 3, 0xEE);
    const int size = static_cast<int>(frames[i].size());
    EXPECT_TRUE(writer.write_frame(buffer.data(), size, i < flags.size() ? flags[i] : 0x10)) << "frame " << i;
    EXPECT_EQ(Bytes(buffer.end() - 3, buffer.end()), Bytes(3, 0)) << "frame " << i;
  }
  EXPECT_TRUE(writer.flush());
  return testsupport::read_file(path);
}

struct Closing {
  std::uint32_t frames;
  std::uint32_t movi_size;
  std::uint32_t suggested;
  std::uint32_t riff_size;
};

// The header area of a finished file, built from the layout tables.
inline Bytes expected_header(const Stream& s, std::uint32_t period, const Closing& c) {
  Bytes h = empty_header_image();
  const auto w = static_cast<std::uint32_t>(s.width);
  const auto ht = static_cast<std::uint32_t>(s.height);
  set_u32(h, 0x0004, c.riff_size);
  set_u32(h, 0x0020, period);
  set_u32(h, 0x0030, c.frames);
  set_u32(h, 0x0040, w);
  set_u32(h, 0x0044, ht);
  set_tag(h, 0x0070, s.compressed != 0 ? "crvt" : "DIB ");
  set_u32(h, 0x0080, static_cast<std::uint32_t>(s.scale));
  set_u32(h, 0x0084, static_cast<std::uint32_t>(s.rate));
  set_u32(h, 0x008C, c.frames);
  set_u32(h, 0x0090, c.suggested);
  set_u32(h, 0x00B0, w);
  set_u32(h, 0x00B4, ht);
  if (s.compressed != 0) set_tag(h, 0x00BC, "CRVT");
  // Bitmap rows are filled to 4 bytes; Corvath codes packed rows.
  set_u32(h, 0x00C0, (s.compressed != 0 ? 3 * w : (3 * w + 3) & ~3u) * ht);
  std::memcpy(&h[0x1208], avi::kCreditText, sizeof avi::kCreditText);
  set_u32(h, 0x2004, c.movi_size);
  return h;
}

// RIFF pieces for hand-made files.
inline Bytes chunk(const char* id, const Bytes& data, int fill = 2) {
  Bytes b;
  append_tag(b, id);
  append_u32(b, static_cast<std::uint32_t>(data.size()));
  append(b, data);
  while (b.size() % static_cast<std::size_t>(fill) != 0) b.push_back(0);
  return b;
}
inline Bytes list(const char* type, const Bytes& body, const char* id = "LIST") {
  Bytes b;
  append_tag(b, id);
  append_u32(b, static_cast<std::uint32_t>(body.size() + 4));
  append_tag(b, type);
  append(b, body);
  return b;
}
inline Bytes strh(const char* type, const char* handler, std::uint32_t rate, std::uint32_t scale, std::uint32_t length,
                  std::size_t size = 56) {
  Bytes b(size, 0);
  set_tag(b, 0, type);
  set_tag(b, 4, handler);
  set_u32(b, 20, scale);
  set_u32(b, 24, rate);
  set_u32(b, 32, length);
  return b;
}
inline Bytes bitmap(std::int32_t width, std::int32_t height, std::uint16_t bits, const char* compression) {
  Bytes b(40, 0);
  set_u32(b, 0, 40);
  set_u32(b, 4, static_cast<std::uint32_t>(width));
  set_u32(b, 8, static_cast<std::uint32_t>(height));
  b[12] = 1;
  b[14] = static_cast<std::uint8_t>(bits);
  if (compression != nullptr) set_tag(b, 16, compression);
  return b;
}

}  // namespace avitest

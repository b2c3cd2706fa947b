#include "avi/avi_reader.h"
#include "avi/avi_writer.h"

#include "avi_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <utility>

namespace {

using avitest::append;
using avitest::append_tag;
using avitest::append_u32;
using avitest::Bytes;
using avitest::chunk;
using avitest::list;
namespace fs = std::filesystem;

using avitest::pattern;
std::vector<Bytes> some_frames() {
  std::vector<Bytes> frames;
  for (std::uint8_t n = 0; n < 9; ++n) frames.push_back(pattern(n, n));
  frames.push_back(pattern(1001, 50));
  frames.push_back(pattern(0, 51));
  frames.push_back(pattern(4096, 52));
  return frames;
}

// Every frame the reader found, read back.
std::vector<Bytes> read_all(avi::AviReader& reader) {
  std::vector<Bytes> out;
  Bytes buffer(reader.largest_frame());
  for (std::size_t i = 0; i < reader.frames().size(); ++i) {
    EXPECT_EQ(reader.read_frame(i, buffer).message, "");
    out.emplace_back(buffer.begin(), buffer.begin() + reader.frames()[i].size);
  }
  return out;
}

Bytes write_with_writer(const fs::path& path, const std::vector<Bytes>& frames, int compressed) {
  AviWriter writer;
  const std::string name = path.string();
  EXPECT_TRUE(writer.init(name.c_str(), 32, 16, 30000, 1001, compressed));
  for (std::size_t i = 0; i < frames.size(); ++i) {
    Bytes buffer = frames[i];
    buffer.resize(buffer.size() + 3);
    EXPECT_TRUE(writer.write_frame(buffer.data(), static_cast<int>(frames[i].size()), i == 3 ? 0x02 : 0x10));
  }
  EXPECT_TRUE(writer.flush());
  return testsupport::read_file(path);
}

// How a hand-made file lays out the same frames.
struct Layout {
  int fill = 2;         // frame chunks fill to 2 or 4 bytes
  int rec = 0;          // frames per "LIST rec ", 0 for none
  int index = 1;        // 0: no idx1; 1: offsets from "movi"; 2: offsets from the file's start
  bool junk = false;    // "JUNK" before, between and inside the lists
  bool audio = false;   // an audio stream comes first: the video is stream 1
  int32_t height = 16;  // negative for top row first
};

Bytes make_avi(const std::vector<Bytes>& frames, const Layout& l) {
  const Bytes junk = chunk("JUNK", Bytes(6, 0));
  Bytes hdrl = chunk("avih", Bytes(56, 0));
  if (l.junk) append(hdrl, junk);
  if (l.audio) {
    append(hdrl, list("strl", avitest::concat(chunk("strh", avitest::strh("auds", "\0\0\0\0", 44100, 1, 0)),
                                              chunk("strf", Bytes(18, 1)))));
  }
  Bytes strl = chunk("strh", avitest::strh("vids", "TEST", 30000, 1001, static_cast<std::uint32_t>(frames.size())));
  if (l.junk) append(strl, junk);
  append(strl, chunk("strf", avitest::bitmap(32, l.height, 24, "TEST")));
  append(hdrl, list("strl", strl));

  const char* id = l.audio ? "01dc" : "00dc";
  struct Entry {
    const char* id;
    std::size_t at;  // from the start of the "movi" data
    std::size_t size;
  };
  std::vector<Entry> entries;
  Bytes movi;
  Bytes group;
  auto flush_group = [&] {
    if (group.empty()) return;
    entries.push_back({"rec ", movi.size(), group.size() + 4});
    append(movi, list("rec ", group));
    group.clear();
  };
  for (std::size_t i = 0; i < frames.size(); ++i) {
    Bytes& to = l.rec > 0 ? group : movi;
    const std::size_t base = l.rec > 0 ? movi.size() + 12 : 0;
    if (l.audio) {
      entries.push_back({"00wb", base + to.size(), 10});
      append(to, chunk("00wb", Bytes(10, 0xAB), l.fill));
    }
    if (l.junk && i % 4 == 1) append(to, junk);
    entries.push_back({id, base + to.size(), frames[i].size()});
    append(to, chunk(id, frames[i], l.fill));
    if (l.rec > 0 && (i + 1) % static_cast<std::size_t>(l.rec) == 0) flush_group();
  }
  flush_group();

  Bytes body;
  if (l.junk) append(body, junk);
  append(body, list("hdrl", hdrl));
  if (l.junk) append(body, junk);
  const std::size_t movi_data = 12 + body.size() + 12;  // file offset of the first chunk in "movi"
  append(body, list("movi", movi));
  if (l.index != 0) {
    Bytes idx1;
    for (const Entry& e : entries) {
      append_tag(idx1, e.id);
      append_u32(idx1, 0x10);
      append_u32(idx1, static_cast<std::uint32_t>(l.index == 1 ? e.at + 4 : e.at + movi_data));
      append_u32(idx1, static_cast<std::uint32_t>(e.size));
    }
    append(body, chunk("idx1", idx1));
  }
  if (l.junk) append(body, junk);
  return list("AVI ", body, "RIFF");
}

AviStatus open_bytes(avi::AviReader& reader, const Bytes& file) {
  return reader.open(std::span<const std::uint8_t>(file));
}

// A damaged file either fails with a message or yields frames that lie
// within the file and read back.
void expect_safe(const Bytes& file) {
  avi::AviReader reader;
  if (const AviStatus s = open_bytes(reader, file); !s) {
    EXPECT_FALSE(s.message.empty());
    return;
  }
  Bytes buffer(reader.largest_frame());
  for (std::size_t i = 0; i < reader.frames().size(); ++i) {
    const avi::Frame& f = reader.frames()[i];
    ASSERT_LE(f.offset + f.size, file.size());
    ASSERT_EQ(reader.read_frame(i, buffer).message, "");
  }
}

// The offsets of every chunk header below the RIFF header, found by walking
// the file as RIFF lays it out (AviWriter's 4-byte fill included).
std::vector<std::size_t> chunk_offsets(const Bytes& f, std::size_t from, std::size_t to) {
  std::vector<std::size_t> out;
  std::size_t at = from;
  while (at + 8 <= to) {
    if (f[at] == 0 && at + 2 < to) {  // fill
      at += 2;
      continue;
    }
    out.push_back(at);
    const std::string id = avitest::tag(f, at);
    const std::size_t size = avitest::u32(f, at + 4);
    if (id == "LIST" || id == "RIFF") {
      const auto inner = chunk_offsets(f, at + 12, std::min(to, at + 8 + size));
      out.insert(out.end(), inner.begin(), inner.end());
    }
    at += 8 + size + (size & 1);
  }
  return out;
}

TEST(AviReaderWriterFiles, ReadBackExactly) {
  testsupport::TempDir dir;
  const auto frames = some_frames();
  for (const int compressed : {0, 1}) {
    write_with_writer(dir / "w.avi", frames, compressed);
    avi::AviReader reader;
    ASSERT_EQ(reader.open(dir / "w.avi").message, "");
    const avi::VideoStream& v = reader.video();
    EXPECT_EQ(v.number, 0);
    EXPECT_EQ(v.handler, avi::fourcc(compressed ? "crvt" : "DIB "));
    EXPECT_EQ(v.compression, compressed ? avi::fourcc("CRVT") : (avi::FourCC{0, 0, 0, 0}));
    EXPECT_EQ(v.width, 32);
    EXPECT_EQ(v.height, 16);
    EXPECT_EQ(v.bit_count, 24);
    EXPECT_EQ(v.rate, 30000u);
    EXPECT_EQ(v.scale, 1001u);
    EXPECT_EQ(v.length, frames.size());
    EXPECT_EQ(v.size_image, 32u * 16u * 3u);
    EXPECT_TRUE(reader.index_used());
    ASSERT_EQ(reader.frames().size(), frames.size());
    EXPECT_EQ(reader.frames()[0].offset, 0x200Cu + 8u);
    EXPECT_EQ(reader.frames()[3].flags, 0x02u);
    EXPECT_EQ(reader.frames()[4].flags, 0x10u);
    EXPECT_EQ(reader.largest_frame(), 4096u);
    EXPECT_EQ(read_all(reader), frames);
  }
  avi::AviReader reader;
  ASSERT_EQ(open_bytes(reader, write_with_writer(dir / "e.avi", {}, 1)).message, "");
  EXPECT_TRUE(reader.frames().empty());
  EXPECT_EQ(reader.largest_frame(), 0u);
}

// The index cannot be used: "movi" is scanned, and finds the same frames.
TEST(AviReaderWriterFiles, ScansWhenTheIndexIsMissingOrWrong) {
  testsupport::TempDir dir;
  const auto frames = some_frames();
  const Bytes good = write_with_writer(dir / "w.avi", frames, 1);
  const std::size_t idx1 = avitest::u32(good, 0x2004) + 0x2008;
  ASSERT_EQ(avitest::tag(good, idx1), "idx1");

  Bytes missing = good;
  avitest::set_tag(missing, idx1, "JUNK");
  Bytes outside = good;
  avitest::set_u32(outside, idx1 + 8 + 5 * 16 + 8, 0x00100000);  // entry 5 points past "movi"
  Bytes into_a_frame = good;
  avitest::set_u32(into_a_frame, idx1 + 8 + 9 * 16 + 8, avitest::u32(good, idx1 + 8 + 9 * 16 + 8) + 8);
  Bytes wrong_length = good;
  avitest::set_u32(wrong_length, idx1 + 8 + 2 * 16 + 12, 7);
  for (const Bytes* f : {&missing, &outside, &into_a_frame, &wrong_length}) {
    avi::AviReader reader;
    ASSERT_EQ(open_bytes(reader, *f).message, "");
    EXPECT_FALSE(reader.index_used());
    EXPECT_EQ(read_all(reader), frames);
    EXPECT_EQ(reader.frames()[3].flags, 0u);
  }
}

// OpenDML files of the writer: 4 parts of at most 10240 bytes.
constexpr std::uint64_t kSmallParts = 10240;

std::vector<Bytes> many_frames() {
  std::vector<Bytes> frames;
  for (std::uint8_t n = 0; n < 60; ++n) frames.push_back(pattern(n % 7 == 3 ? 0 : 17u * n % 1500, n));
  return frames;
}

Bytes write_in_parts(const fs::path& path, const std::vector<Bytes>& frames) {
  AviWriter writer(kSmallParts);
  const std::string name = path.string();
  EXPECT_TRUE(writer.init(name.c_str(), 32, 16, 25, 1, 1));
  for (std::size_t i = 0; i < frames.size(); ++i) {
    Bytes buffer = frames[i];
    buffer.resize(buffer.size() + 3);
    EXPECT_TRUE(writer.write_frame(buffer.data(), static_cast<int>(frames[i].size()), i % 5 == 0 ? 0x10 : 0));
  }
  EXPECT_TRUE(writer.flush());
  return testsupport::read_file(path);
}

std::uint32_t key_flags(std::size_t i) { return i % 5 == 0 ? 0x10 : 0; }

TEST(AviReaderOpenDml, ReadsEveryPartThroughTheIndexes) {
  testsupport::TempDir dir;
  const auto frames = many_frames();
  write_in_parts(dir / "parts.avi", frames);
  avi::AviReader reader;
  ASSERT_EQ(reader.open(dir / "parts.avi").message, "");
  EXPECT_TRUE(reader.super_index_used());
  EXPECT_TRUE(reader.index_used());
  EXPECT_EQ(reader.parts(), 4u);
  EXPECT_EQ(reader.video().length, frames.size());
  EXPECT_EQ(read_all(reader), frames);
  for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(reader.frames()[i].flags, key_flags(i)) << i;
}

// Damaged OpenDML indexes are not used: the first part is read through
// "idx1" and the others are scanned, with the same frames.
TEST(AviReaderOpenDml, FallsBackWhenTheIndexesCannotBeUsed) {
  testsupport::TempDir dir;
  const auto frames = many_frames();
  const Bytes good = write_in_parts(dir / "parts.avi", frames);
  const std::size_t indx = 0xD4;
  ASSERT_EQ(avitest::tag(good, indx), "indx");
  const std::size_t first_ix = avitest::u32(good, indx + 32);  // entry 0, qwOffset
  const std::size_t second_ix = avitest::u32(good, indx + 48);
  ASSERT_EQ(avitest::tag(good, second_ix), "ix00");

  struct Damage {
    const char* what;
    std::size_t at;
    std::uint32_t value;
  };
  const Damage damages[] = {
      {"no indx", indx, 0x4B4E554A},  // "JUNK"
      {"wLongsPerEntry", indx + 8, 0x00000002},
      {"bIndexType", indx + 8, 0x01000004},
      {"no entries", indx + 12, 0},
      {"more entries than room", indx + 12, 300},
      {"wrong chunk id", indx + 16, 0x63643130},  // "01dc"
      {"entry off its ix00", indx + 48, static_cast<std::uint32_t>(second_ix + 4)},
      {"entries out of order", indx + 48, static_cast<std::uint32_t>(first_ix)},
      {"entry past the file", indx + 52, 1},  // qwOffset high word
      {"ix00 id", second_ix, 0x31307869},     // "ix01"
      {"ix00 type", second_ix + 8, 0x00000002},
      {"ix00 count past its size", second_ix + 12, 1000},
      {"ix00 base", second_ix + 20, 4},
      {"ix00 entry offset", second_ix + 32, 0},
      {"ix00 entry size", second_ix + 36, 0x80000001},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    Bytes bad = good;
    avitest::set_u32(bad, d.at, d.value);
    avi::AviReader reader;
    ASSERT_EQ(open_bytes(reader, bad).message, "");
    EXPECT_FALSE(reader.super_index_used());
    EXPECT_FALSE(reader.index_used());
    EXPECT_EQ(reader.parts(), 4u);
    EXPECT_EQ(read_all(reader), frames);
    EXPECT_EQ(reader.frames()[5].flags, 0x10u);  // from "idx1"
    EXPECT_EQ(reader.frames()[55].flags, 0u);    // found by scanning
  }
}

TEST(AviReaderLayouts, EveryLayoutGivesTheSameFrames) {
  const auto frames = some_frames();
  for (const int fill : {2, 4}) {
    for (const int rec : {0, 3}) {
      for (const int index : {0, 1, 2}) {
        for (const bool junk : {false, true}) {
          for (const bool audio : {false, true}) {
            Layout l;
            l.fill = fill;
            l.rec = rec;
            l.index = index;
            l.junk = junk;
            l.audio = audio;
            l.height = junk ? -16 : 16;  // negative: top row first
            SCOPED_TRACE(testing::Message() << "fill " << fill << " rec " << rec << " index " << index << " junk "
                                            << junk << " audio " << audio);
            const Bytes file = make_avi(frames, l);
            avi::AviReader reader;
            ASSERT_EQ(open_bytes(reader, file).message, "");
            EXPECT_EQ(reader.video().number, audio ? 1 : 0);
            EXPECT_EQ(reader.video().handler, avi::fourcc("TEST"));
            EXPECT_EQ(reader.video().height, l.height);
            EXPECT_EQ(reader.index_used(), index != 0);
            EXPECT_EQ(read_all(reader), frames);
          }
        }
      }
    }
  }
}

// Files whose writer never finished, as a crash or a signal leaves them:
// the sizes as first written (RIFF and "movi" sizes 0, every part's too) or
// as completed, cut anywhere. Every whole frame chunk before the cut is
// found, in order; a cut before the frame list leaves nothing to read.
TEST(AviReaderUnfinished, KeepsEveryWholeFrame) {
  testsupport::TempDir dir;
  for (const std::vector<Bytes>& frames : {some_frames(), many_frames()}) {
    const bool in_parts = frames.size() == many_frames().size();
    const Bytes done = in_parts ? write_in_parts(dir / "w.avi", frames) : write_with_writer(dir / "w.avi", frames, 1);
    avi::AviReader complete;
    ASSERT_TRUE(open_bytes(complete, done));
    Bytes first_written = done;
    for (const std::size_t at : chunk_offsets(done, 0, done.size())) {
      if (avitest::tag(done, at) == "RIFF" || avitest::tag(done, at + 8) == "movi")
        avitest::set_u32(first_written, at + 4, 0);
    }
    std::vector<std::size_t> cuts = chunk_offsets(done, 12, done.size());
    cuts.insert(cuts.end(), {100, 8203, 8204, 8205, 8211, done.size()});
    for (const avi::Frame& f : complete.frames()) cuts.push_back(f.offset + f.size - 1);
    for (const std::size_t cut : cuts) {
      for (const Bytes* file : {&std::as_const(first_written), cut < done.size() ? &done : &first_written}) {
        SCOPED_TRACE(testing::Message() << in_parts << " cut at " << cut << (file == &done ? " completed" : ""));
        avi::AviReader reader;
        const Bytes shorter(file->begin(), file->begin() + static_cast<std::ptrdiff_t>(cut));
        const AviStatus opened = open_bytes(reader, shorter);
        ASSERT_EQ(opened.ok(), cut >= 8204) << opened.message;
        if (cut < 8204) continue;
        EXPECT_FALSE(reader.unfinished().empty());
        std::size_t whole = 0;
        while (whole < frames.size() && complete.frames()[whole].offset + frames[whole].size() <= cut) ++whole;
        EXPECT_TRUE(read_all(reader) ==
                    std::vector<Bytes>(frames.begin(), frames.begin() + static_cast<std::ptrdiff_t>(whole)));
      }
    }
  }
}

// A "movi" list that ends before frame chunks that follow it is taken as
// unfinished; an index that names a chunk twice is refused.
TEST(AviReaderBroken, EmptyMoviListAndRepeatedIndexEntries) {
  testsupport::TempDir dir;
  const auto frames = some_frames();
  const Bytes good = write_with_writer(dir / "w.avi", frames, 1);
  Bytes empty = good;
  avitest::set_u32(empty, 0x2004, 4);
  avi::AviReader reader;
  ASSERT_EQ(open_bytes(reader, empty).message, "");
  EXPECT_NE(reader.unfinished().find("frame chunks follow"), std::string::npos) << reader.unfinished();
  EXPECT_EQ(read_all(reader), frames);

  const std::size_t idx1 = avitest::u32(good, 0x2004) + 0x2008 + 8;
  Bytes twice = good;
  std::copy_n(good.begin() + static_cast<std::ptrdiff_t>(idx1 + 4 * 16), 16,
              twice.begin() + static_cast<std::ptrdiff_t>(idx1 + 7 * 16));
  const Bytes parts = write_in_parts(dir / "p.avi", many_frames());
  const std::size_t ix = avitest::u32(parts, 0xD4 + 48) + 32;  // the second part's "ix00" entries
  Bytes twice_in_parts = parts;
  std::copy_n(parts.begin() + static_cast<std::ptrdiff_t>(ix), 8,
              twice_in_parts.begin() + static_cast<std::ptrdiff_t>(ix + 16));
  for (const Bytes* f : {&twice, &twice_in_parts}) {
    const AviStatus s = open_bytes(reader, *f);
    EXPECT_NE(s.message.find("more than once"), std::string::npos) << s.message;
  }
}

// Every chunk of a plain, a hand-made and an OpenDML file cut short or
// given a wrong size.
TEST(AviReaderBroken, ChunksCutOrResized) {
  testsupport::TempDir dir;
  Layout rec;
  rec.rec = 3;
  rec.junk = true;
  for (const Bytes& good : {write_with_writer(dir / "w.avi", some_frames(), 1), make_avi(some_frames(), rec),
                            write_in_parts(dir / "parts.avi", many_frames())}) {
    for (const std::size_t at : chunk_offsets(good, 0, good.size())) {
      SCOPED_TRACE(testing::Message() << "chunk at " << at);
      for (const std::size_t cut : {at, at + 5, at + 9}) {
        expect_safe(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(std::min(cut, good.size()))));
      }
      for (const int delta : {-1, 1, 8}) {
        Bytes bad = good;
        avitest::set_u32(bad, at + 4, avitest::u32(good, at + 4) + static_cast<std::uint32_t>(delta));
        expect_safe(bad);
      }
    }
  }
}

TEST(AviReaderBroken, ListLargerThanItsParent) {
  Bytes f = make_avi(some_frames(), Layout{});
  const std::size_t strl = 12 + 12 + 64;  // after the RIFF and hdrl headers and avih
  ASSERT_EQ(avitest::tag(f, strl + 8), "strl");
  avitest::set_u32(f, strl + 4, avitest::u32(f, 16));  // as large as hdrl itself
  avi::AviReader reader;
  const AviStatus s = open_bytes(reader, f);
  EXPECT_NE(s.message.find("runs past the end of its parent \"hdrl\""), std::string::npos) << s.message;
}

TEST(AviReaderBroken, WrongOrMissingStreams) {
  struct Case {
    Bytes file;
    const char* message;
  };
  const Bytes movi = list("movi", {});
  const Bytes strf = chunk("strf", avitest::bitmap(32, 16, 24, nullptr));
  auto with_strl = [&](const Bytes& strl) {
    return list("AVI ", avitest::concat(list("hdrl", list("strl", strl)), movi), "RIFF");
  };
  const Case cases[] = {
      {Bytes{'R', 'I', 'F', 'X', 4, 0, 0, 0, 'A', 'V', 'I', ' '}, "not an AVI file"},
      {list("WAVE", {}, "RIFF"), "not an AVI file"},
      {list("AVI ", movi, "RIFF"), "no header list"},
      {with_strl(avitest::concat(chunk("strh", avitest::strh("auds", "\0\0\0\0", 1, 1, 0)), strf)), "no video stream"},
      {with_strl(chunk("strh", avitest::strh("vids", "DIB ", 1, 1, 0))), "no bitmap format"},
      {with_strl(avitest::concat(chunk("strh", avitest::strh("vids", "DIB ", 1, 1, 0)), chunk("strf", Bytes(20, 0)))),
       "no bitmap format"},
      {with_strl(avitest::concat(chunk("strh", avitest::strh("vids", "DIB ", 1, 1, 0, 40)), strf)), "too short"},
      {with_strl(avitest::concat(chunk("strh", avitest::strh("vids", "DIB ", 1, 1, 0)),
                                 chunk("strf", avitest::bitmap(0, 16, 24, nullptr)))),
       "invalid frame size"},
      {list("AVI ",
            list("hdrl", list("strl", avitest::concat(chunk("strh", avitest::strh("vids", "DIB ", 1, 1, 0)), strf))),
            "RIFF"),
       "no frame list"},
  };
  for (const Case& c : cases) {
    avi::AviReader reader;
    const AviStatus s = open_bytes(reader, c.file);
    EXPECT_NE(s.message.find(c.message), std::string::npos) << s.message;
  }
}

TEST(AviReaderBroken, AbsurdSizesAndCounts) {
  const Bytes good = make_avi(some_frames(), Layout{});
  const std::size_t idx1 = good.size() - (8 + 16 * some_frames().size());
  ASSERT_EQ(avitest::tag(good, idx1), "idx1");
  Bytes huge_index = good;
  avitest::set_u32(huge_index, idx1 + 4, 0xFFFFFFF0);
  Bytes huge_length = good;
  avi::AviReader broken;
  EXPECT_FALSE(open_bytes(broken, huge_index).message.empty());
  // The stream header's frame count is only reported, never trusted.
  const std::size_t strh = 12 + 12 + 64 + 12;
  ASSERT_EQ(avitest::tag(huge_length, strh), "strh");
  avitest::set_u32(huge_length, strh + 8 + 32, 0xFFFFFFFF);
  avi::AviReader reader;
  ASSERT_EQ(open_bytes(reader, huge_length).message, "");
  EXPECT_EQ(reader.video().length, 0xFFFFFFFFu);
  EXPECT_EQ(reader.frames().size(), some_frames().size());
}

TEST(AviReaderFiles, MissingFileAndShrunkenFile) {
  testsupport::TempDir dir;
  avi::AviReader reader;
  EXPECT_NE(reader.open(dir / "none.avi").message.find("cannot open"), std::string::npos);

  write_with_writer(dir / "w.avi", some_frames(), 0);
  ASSERT_EQ(reader.open(dir / "w.avi").message, "");
  fs::resize_file(dir / "w.avi", 8300);
  Bytes buffer(reader.largest_frame());
  EXPECT_TRUE(reader.read_frame(5, buffer));  // still within the file
  const AviStatus s = reader.read_frame(11, buffer);
  EXPECT_NE(s.message.find("frame 11 could not be read"), std::string::npos) << s.message;
  EXPECT_FALSE(reader.read_frame(12, buffer));
  Bytes small(10);
  EXPECT_FALSE(reader.read_frame(9, small));
}

// Offsets past 4 GiB, on a sparse file where the file system has them.
TEST(AviReaderFiles, ReadsBeyondFourGiB) {
  testsupport::TempDir dir;
  const fs::path path = dir / "sparse.bin";
  constexpr std::uint64_t kFar = (std::uint64_t{5} << 30) + 3;
  {
    std::ofstream out(path, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(kFar));
    out.write("far!", 4);
    if (!out) GTEST_SKIP() << "no large sparse files here";
  }
  avi::ByteSource source;
  ASSERT_TRUE(source.open(path));
  EXPECT_EQ(source.size(), kFar + 4);
  Bytes four(4);
  ASSERT_TRUE(source.read(kFar, four));
  EXPECT_EQ(std::string(four.begin(), four.end()), "far!");
  EXPECT_FALSE(source.read(kFar + 1, four));
}

}  // namespace

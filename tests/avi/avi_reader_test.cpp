// AviReader on what AviWriter writes, plain and in parts, on other writers'
// layouts built by hand, and on files unfinished, cut or damaged.
#include "avi_test_util.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <tuple>
#include <utility>

namespace {

using namespace avitest;
namespace fs = std::filesystem;

std::vector<Bytes> some_frames() {
  std::vector<Bytes> frames;
  for (std::uint8_t n = 0; n < 9; ++n) frames.push_back(pattern(n, n));
  for (const std::size_t n : {1001, 0, 4096}) frames.push_back(pattern(n, static_cast<std::uint8_t>(n)));
  return frames;
}
Bytes write_plain(const fs::path& path, const std::vector<Bytes>& frames, int compressed) {
  std::vector<int> flags(frames.size(), 0x10);
  if (flags.size() > 3) flags[3] = 0x02;
  return write_avi(path, frames, {32, 16, 30000, 1001, compressed}, flags);
}

// OpenDML files of the writer: 4 parts of at most 10240 bytes, key frames every fifth.
std::vector<Bytes> many_frames() {
  std::vector<Bytes> frames;
  for (std::uint8_t n = 0; n < 60; ++n) frames.push_back(pattern(n % 7 == 3 ? 0 : 17u * n % 1500, n));
  return frames;
}
Bytes write_in_parts(const fs::path& path) {
  std::vector<int> flags;
  for (int i = 0; i < 60; ++i) flags.push_back(i % 5 == 0 ? 0x10 : 0);
  return write_avi(path, many_frames(), {32, 16, 25, 1, 1}, flags, 10240);
}

// How a hand-made file lays out the same frames.
struct Layout {
  std::size_t fill = 2;  // frame chunks fill to 2 or 4 bytes
  int rec = 0;           // frames per "LIST rec ", 0 for none
  int index = 1;         // 0: no idx1; 1: offsets from "movi"; 2: offsets from the file's start
  bool junk = false;     // "JUNK" before, between and inside the lists
  bool audio = false;    // an audio stream comes first: the video is stream 1
  int32_t height = 16;   // negative for top row first
};

Bytes make_avi(const std::vector<Bytes>& frames, const Layout& l) {
  const Bytes junk = l.junk ? chunk("JUNK", Bytes(6, 0)) : Bytes{};
  Bytes hdrl = chunk("avih", Bytes(56, 0)) + junk;
  if (l.audio) hdrl += list("strl", chunk("strh", strh("auds", 44100, 1, 0)) + chunk("strf", Bytes(18, 1)));
  hdrl += list("strl", chunk("strh", strh("vids", 30000, 1001, static_cast<std::uint32_t>(frames.size()))) + junk +
                           chunk("strf", bitmap(32, l.height, "TEST")));
  const char* id = l.audio ? "01dc" : "00dc";
  Bytes movi, group, idx1;
  auto entry = [&](const char* what, std::size_t at, std::size_t size) {  // `at` from the start of "movi" data
    const std::size_t movi_data = 12 + 2 * junk.size() + 12 + hdrl.size() + 12;
    idx1 += fcc(what) + words({0x10, static_cast<std::uint32_t>(l.index == 1 ? at + 4 : at + movi_data),
                               static_cast<std::uint32_t>(size)});
  };
  for (std::size_t i = 0; i < frames.size(); ++i) {
    Bytes& to = l.rec > 0 ? group : movi;
    const std::size_t base = l.rec > 0 ? movi.size() + 12 : 0;
    if (l.audio) {
      entry("00wb", base + to.size(), 10);
      to += chunk("00wb", Bytes(10, 0xAB), l.fill);
    }
    if (i % 4 == 1) to += junk;
    entry(id, base + to.size(), frames[i].size());
    to += chunk(id, frames[i], l.fill);
    if (l.rec > 0 && ((i + 1) % static_cast<std::size_t>(l.rec) == 0 || i + 1 == frames.size())) {
      entry("rec ", movi.size(), group.size() + 4);
      movi += list("rec ", group);
      group.clear();
    }
  }
  Bytes body = junk + list("hdrl", hdrl) + junk + list("movi", movi);
  if (l.index != 0) body += chunk("idx1", idx1);
  return list("AVI ", body + junk, "RIFF");
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
  for (std::size_t at = from; at + 8 <= to;) {
    if (f[at] == 0 && at + 2 < to) {  // fill
      at += 2;
      continue;
    }
    out.push_back(at);
    const std::size_t size = u32(f, at + 4);
    if (tag(f, at) == "LIST" || tag(f, at) == "RIFF") {
      const auto inner = chunk_offsets(f, at + 12, std::min(to, at + 8 + size));
      out.insert(out.end(), inner.begin(), inner.end());
    }
    at += 8 + size + (size & 1);
  }
  return out;
}

TEST(AviReader, ReadsWhatTheWriterWrote) {
  testsupport::TempDir dir;
  const auto frames = some_frames();
  for (const int compressed : {0, 1}) {
    write_plain(dir / "w.avi", frames, compressed);
    avi::AviReader reader;
    ASSERT_EQ(reader.open(dir / "w.avi").message, "");
    const avi::VideoStream& v = reader.video();
    EXPECT_EQ(v.number, 0);
    EXPECT_EQ(v.handler, avi::fourcc(compressed ? "crvt" : "DIB "));
    EXPECT_EQ(v.compression, compressed ? avi::fourcc("CRVT") : (avi::FourCC{0, 0, 0, 0}));
    EXPECT_EQ(std::tuple(v.width, v.height, v.bit_count, v.rate, v.scale, v.length),
              std::tuple(32, 16, std::uint16_t{24}, 30000u, 1001u, static_cast<std::uint32_t>(frames.size())));
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
  ASSERT_EQ(open_bytes(reader, write_plain(dir / "e.avi", {}, 1)).message, "");
  EXPECT_TRUE(reader.frames().empty());
  EXPECT_EQ(reader.largest_frame(), 0u);

  // In parts, through the OpenDML indexes.
  write_in_parts(dir / "parts.avi");
  ASSERT_EQ(reader.open(dir / "parts.avi").message, "");
  EXPECT_TRUE(reader.super_index_used() && reader.index_used());
  EXPECT_EQ(reader.parts(), 4u);
  EXPECT_EQ(reader.video().length, 60u);
  EXPECT_EQ(read_all(reader), many_frames());
  for (std::size_t i = 0; i < 60; ++i) EXPECT_EQ(reader.frames()[i].flags, i % 5 == 0 ? 0x10u : 0u) << i;
}

// The index cannot be used: "movi" is scanned, and finds the same frames.
TEST(AviReader, ScansWhenTheIndexIsMissingOrWrong) {
  testsupport::TempDir dir;
  const auto frames = some_frames();
  const Bytes good = write_plain(dir / "w.avi", frames, 1);
  const std::size_t idx1 = u32(good, 0x2004) + 0x2008, entries = idx1 + 8;
  ASSERT_EQ(tag(good, idx1), "idx1");
  const std::pair<std::size_t, std::uint32_t> damages[] = {
      {idx1, 0x4B4E554A},                                           // "JUNK": no index
      {entries + 5 * 16 + 8, 0x00100000},                           // entry 5 points past "movi"
      {entries + 9 * 16 + 8, u32(good, entries + 9 * 16 + 8) + 8},  // into a frame
      {entries + 2 * 16 + 12, 7},                                   // a wrong length
  };
  for (const auto& [at, value] : damages) {
    Bytes bad = good;
    set_u32(bad, at, value);
    avi::AviReader reader;
    ASSERT_EQ(open_bytes(reader, bad).message, "");
    EXPECT_FALSE(reader.index_used());
    EXPECT_EQ(read_all(reader), frames);
    EXPECT_EQ(reader.frames()[3].flags, 0u);
  }
}

// Damaged OpenDML indexes are not used: the first part is read through
// "idx1" and the others are scanned, with the same frames.
TEST(AviReader, FallsBackWhenTheOpenDmlIndexesCannotBeUsed) {
  testsupport::TempDir dir;
  const Bytes good = write_in_parts(dir / "parts.avi");
  const std::size_t indx = 0xD4, first_ix = u32(good, indx + 32), second_ix = u32(good, indx + 48);
  ASSERT_EQ(tag(good, second_ix), "ix00");
  const std::tuple<const char*, std::size_t, std::uint32_t> damages[] = {
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
  for (const auto& [what, at, value] : damages) {
    SCOPED_TRACE(what);
    Bytes bad = good;
    set_u32(bad, at, value);
    avi::AviReader reader;
    ASSERT_EQ(open_bytes(reader, bad).message, "");
    EXPECT_FALSE(reader.super_index_used());
    EXPECT_FALSE(reader.index_used());
    EXPECT_EQ(reader.parts(), 4u);
    EXPECT_EQ(read_all(reader), many_frames());
    EXPECT_EQ(reader.frames()[5].flags, 0x10u);  // from "idx1"
    EXPECT_EQ(reader.frames()[55].flags, 0u);    // found by scanning
  }
}

TEST(AviReader, EveryLayoutGivesTheSameFrames) {
  const auto frames = some_frames();
  for (int bits = 0; bits < 48; ++bits) {
    const Layout l{bits & 1 ? 4u : 2u, bits & 2 ? 3 : 0, bits / 16,
                   (bits & 4) != 0,    (bits & 8) != 0,  bits & 4 ? -16 : 16};
    SCOPED_TRACE(testing::Message() << "fill " << l.fill << " rec " << l.rec << " index " << l.index << " junk "
                                    << l.junk << " audio " << l.audio);
    avi::AviReader reader;
    const Bytes file = make_avi(frames, l);  // the reader reads it in place
    ASSERT_EQ(open_bytes(reader, file).message, "");
    EXPECT_EQ(reader.video().number, l.audio ? 1 : 0);
    EXPECT_EQ(reader.video().handler, avi::fourcc("TEST"));
    EXPECT_EQ(reader.video().height, l.height);
    EXPECT_EQ(reader.index_used(), l.index != 0);
    EXPECT_EQ(read_all(reader), frames);
  }
}

// Files whose writer never finished, as a crash or a signal leaves them:
// the sizes as first written (RIFF and "movi" sizes 0, every part's too) or
// as completed, cut anywhere. Every whole frame chunk before the cut is
// found, in order; a cut before the frame list leaves nothing to read.
TEST(AviReader, UnfinishedFilesKeepEveryWholeFrame) {
  testsupport::TempDir dir;
  for (const bool in_parts : {false, true}) {
    const std::vector<Bytes> frames = in_parts ? many_frames() : some_frames();
    const Bytes done = in_parts ? write_in_parts(dir / "w.avi") : write_plain(dir / "w.avi", frames, 1);
    avi::AviReader complete;
    ASSERT_TRUE(open_bytes(complete, done));
    Bytes first_written = done;
    for (const std::size_t at : chunk_offsets(done, 0, done.size())) {
      if (tag(done, at) == "RIFF" || tag(done, at + 8) == "movi") set_u32(first_written, at + 4, 0);
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
// unfinished; an index that names a chunk twice is refused; every chunk of a
// plain, a hand-made and an OpenDML file cut short or given a wrong size is
// read safely.
TEST(AviReader, BrokenChunksAndIndexes) {
  testsupport::TempDir dir;
  const Bytes good = write_plain(dir / "w.avi", some_frames(), 1);
  Bytes empty = good;
  set_u32(empty, 0x2004, 4);
  avi::AviReader reader;
  ASSERT_EQ(open_bytes(reader, empty).message, "");
  EXPECT_NE(reader.unfinished().find("frame chunks follow"), std::string::npos) << reader.unfinished();
  EXPECT_EQ(read_all(reader), some_frames());

  const std::size_t idx1 = u32(good, 0x2004) + 0x2008 + 8;
  Bytes twice = good;
  std::copy_n(good.begin() + static_cast<std::ptrdiff_t>(idx1 + 4 * 16), 16,
              twice.begin() + static_cast<std::ptrdiff_t>(idx1 + 7 * 16));
  const Bytes parts = write_in_parts(dir / "p.avi");
  const std::size_t ix = u32(parts, 0xD4 + 48) + 32;  // the second part's "ix00" entries
  Bytes twice_in_parts = parts;
  std::copy_n(parts.begin() + static_cast<std::ptrdiff_t>(ix), 8,
              twice_in_parts.begin() + static_cast<std::ptrdiff_t>(ix + 16));
  for (const Bytes* f : {&twice, &twice_in_parts}) {
    EXPECT_NE(open_bytes(reader, *f).message.find("more than once"), std::string::npos);
  }

  Layout rec;
  rec.rec = 3;
  rec.junk = true;
  for (const Bytes& file : {good, make_avi(some_frames(), rec), parts}) {
    for (const std::size_t at : chunk_offsets(file, 0, file.size())) {
      SCOPED_TRACE(testing::Message() << "chunk at " << at);
      for (const std::size_t cut : {at, at + 5, at + 9}) {
        expect_safe(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(std::min(cut, file.size()))));
      }
      for (const int delta : {-1, 1, 8}) {
        Bytes bad = file;
        set_u32(bad, at + 4, u32(file, at + 4) + static_cast<std::uint32_t>(delta));
        expect_safe(bad);
      }
    }
  }
}

TEST(AviReader, WrongOrMissingStreamsAndAbsurdSizes) {
  const Bytes movi = list("movi", {}), vids = chunk("strh", strh("vids", 1, 1, 0));
  const Bytes strf = chunk("strf", bitmap(32, 16));
  auto with_strl = [&](const Bytes& strl) { return list("AVI ", list("hdrl", list("strl", strl)) + movi, "RIFF"); };
  Bytes parent = make_avi(some_frames(), Layout{});
  set_u32(parent, 12 + 12 + 64 + 4, u32(parent, 16));  // "strl" as large as "hdrl" itself
  Bytes huge_index = make_avi(some_frames(), Layout{});
  set_u32(huge_index, huge_index.size() - (8 + 16 * some_frames().size()) + 4, 0xFFFFFFF0);
  const std::pair<Bytes, const char*> cases[] = {
      {Bytes{'R', 'I', 'F', 'X', 4, 0, 0, 0, 'A', 'V', 'I', ' '}, "not an AVI file"},
      {list("WAVE", {}, "RIFF"), "not an AVI file"},
      {list("AVI ", movi, "RIFF"), "no header list"},
      {with_strl(chunk("strh", strh("auds", 1, 1, 0)) + strf), "no video stream"},
      {with_strl(vids), "no bitmap format"},
      {with_strl(vids + chunk("strf", Bytes(20, 0))), "no bitmap format"},
      {with_strl(chunk("strh", strh("vids", 1, 1, 0, 40)) + strf), "too short"},
      {with_strl(vids + chunk("strf", bitmap(0, 16))), "invalid frame size"},
      {list("AVI ", list("hdrl", list("strl", vids + strf)), "RIFF"), "no frame list"},
      {parent, "runs past the end of its parent \"hdrl\""},
      {huge_index, ""},
  };
  for (const auto& [file, message] : cases) {
    avi::AviReader reader;
    const AviStatus s = open_bytes(reader, file);
    EXPECT_FALSE(s);
    EXPECT_NE(s.message.find(message), std::string::npos) << s.message;
  }
  // The stream header's frame count is only reported, never trusted.
  Bytes huge_length = make_avi(some_frames(), Layout{});
  set_u32(huge_length, 12 + 12 + 64 + 12 + 8 + 32, 0xFFFFFFFF);
  avi::AviReader reader;
  ASSERT_EQ(open_bytes(reader, huge_length).message, "");
  EXPECT_EQ(reader.video().length, 0xFFFFFFFFu);
  EXPECT_EQ(reader.frames().size(), some_frames().size());
}

TEST(AviReader, MissingShrunkenAndLargeFiles) {
  testsupport::TempDir dir;
  avi::AviReader reader;
  EXPECT_NE(reader.open(dir / "none.avi").message.find("cannot open"), std::string::npos);
  write_plain(dir / "w.avi", some_frames(), 0);
  ASSERT_EQ(reader.open(dir / "w.avi").message, "");
  fs::resize_file(dir / "w.avi", 8300);
  Bytes buffer(reader.largest_frame()), small(10);
  EXPECT_TRUE(reader.read_frame(5, buffer));  // still within the file
  EXPECT_NE(reader.read_frame(11, buffer).message.find("frame 11 could not be read"), std::string::npos);
  EXPECT_FALSE(reader.read_frame(12, buffer));
  EXPECT_FALSE(reader.read_frame(9, small));

  // Offsets past 4 GiB, on a sparse file where the file system has them.
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

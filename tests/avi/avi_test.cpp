// AviWriter byte for byte: the plain layout, the OpenDML form past the part
// limit (its edges, the 256-part ceiling, the planner the run asks first),
// and write failures, each reported once and leaving a complete file.
// AviReader on each of these files, on files whose indexes are damaged,
// unfinished or cut, or changed after opening, and on what GStreamer's
// avimux writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "avi/avi_layout.h"
#include "avi/avi_reader.h"
#include "avi/avi_template.h"
#include "avi/avi_writer.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
namespace layout = avi::layout;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t u32(const Bytes& b, std::size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}
void set_u32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
Bytes& operator+=(Bytes& b, const Bytes& more) {
  b.insert(b.end(), more.begin(), more.end());
  return b;
}
Bytes operator+(Bytes a, const Bytes& b) { return a += b; }
Bytes words(std::initializer_list<std::uint32_t> values) {
  Bytes b(4 * values.size());
  for (std::size_t i = 0; i < values.size(); ++i) set_u32(b, 4 * i, values.begin()[i]);
  return b;
}
Bytes fcc(const char* t) { return Bytes(t, t + 4); }

struct Stream {
  int width = 2, height = 2, rate = 600, scale = 20, compressed = 0;
};

// Writes `frames` through an AviWriter, each from a buffer with 3 spare bytes
// behind it, checks that those bytes were zeroed, and returns the file.
Bytes write_avi(const fs::path& path, const std::vector<Bytes>& frames, const Stream& s = {},
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
Bytes expected_header(const Stream& s, std::uint32_t period, std::uint32_t frames, std::uint32_t movi,
                      std::uint32_t suggested, std::uint32_t riff) {
  const auto w = static_cast<std::uint32_t>(s.width), h = static_cast<std::uint32_t>(s.height);
  Bytes b(8204, 0);
  const std::pair<std::size_t, const char*> tags[] = {
      {0x0, "RIFF"},    {0x8, "AVI "},    {0xC, "LIST"},    {0x14, "hdrl"},   {0x18, "avih"},  {0x58, "LIST"},
      {0x60, "strl"},   {0x64, "strh"},   {0x6C, "vids"},   {0xA4, "strf"},   {0xD4, "JUNK"},  {0x10F4, "LIST"},
      {0x10FC, "odml"}, {0x1100, "dmlh"}, {0x1200, "JUNK"}, {0x2000, "LIST"}, {0x2008, "movi"}};
  for (const auto& [at, t] : tags) std::memcpy(&b[at], t, 4);
  std::memcpy(&b[0x70], s.compressed != 0 ? "crvt" : "DIB ", 4);
  std::memcpy(&b[0xBC], s.compressed != 0 ? "CRVT" : "\0\0\0\0", 4);
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

// RIFF pieces.
Bytes chunk(const char* id, const Bytes& data, std::size_t fill = 2) {
  Bytes b = fcc(id) + words({static_cast<std::uint32_t>(data.size())}) + data;
  b.resize((b.size() + fill - 1) / fill * fill, 0);
  return b;
}
Bytes list(const char* type, const Bytes& body, const char* id = "LIST") {
  return fcc(id) + words({static_cast<std::uint32_t>(body.size() + 4)}) + fcc(type) + body;
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

// Frames of the given lengths, each of a byte pattern of its own.
std::vector<Bytes> frames_of(const std::vector<std::size_t>& lengths) {
  std::vector<Bytes> frames;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    Bytes& b = frames.emplace_back(lengths[i]);
    for (std::size_t k = 0; k < b.size(); ++k) b[k] = static_cast<std::uint8_t>(i * 31 + 7 * k + 1);
  }
  return frames;
}

// The frames in each part of a file in parts, from its super index, after
// checking that the parts chain up, every "AVIX" part stays within `limit`,
// the header counts agree and our reader reads `frames` and their `flags`
// (0x10 past those given) through the indexes.
std::vector<std::uint32_t> part_frames(const Bytes& f, std::uint64_t limit, const std::vector<Bytes>& frames,
                                       const std::vector<int>& flags = {}) {
  std::vector<std::uint32_t> counts;
  for (std::size_t at = 0; at < f.size(); at += 8 + u32(f, at + 4)) {
    EXPECT_EQ(Bytes(f.begin() + at + 8, f.begin() + at + 12), fcc(at == 0 ? "AVI " : "AVIX"));
    EXPECT_TRUE(at == 0 || 8 + u32(f, at + 4) <= limit) << at;
    counts.push_back(u32(f, 0xF4 + 16 * counts.size() + 12));
    EXPECT_EQ(u32(f, 0xF4 + 16 * counts.size() - 8), 32 + 8 * counts.back());  // the size of its "ix00"
  }
  EXPECT_EQ(f.size() % 1024, 0u);
  EXPECT_EQ(u32(f, 0x30), counts.at(0));
  EXPECT_EQ(u32(f, 0x8C), frames.size());
  EXPECT_EQ(u32(f, 0x1108), frames.size());
  EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), std::size_t{0}), frames.size());
  avi::AviReader reader;
  EXPECT_EQ(reader.open(f).message, "");
  EXPECT_TRUE(reader.super_index_used() && reader.index_used());
  EXPECT_EQ(reader.parts(), counts.size());
  EXPECT_TRUE(read_all(reader) == frames);
  for (std::size_t i = 0; i < reader.frames().size(); ++i)
    EXPECT_EQ(reader.frames()[i].flags, static_cast<std::uint32_t>(i < flags.size() ? flags[i] : 0x10)) << i;
  return counts;
}

// Whole files against the layout: header (its frame period from rate and
// scale), "00dc" chunks filled to 4 bytes, "idx1" (lengths filled too),
// closing "JUNK" up to the file length given. The reader gives the frames
// and flags back through "idx1".
TEST(AviWriterLayout, WholeFiles) {
  struct Case {
    Stream stream;
    std::uint32_t period;
    std::vector<std::size_t> lengths;
    std::vector<int> flags;
    std::uint32_t movi, suggested, file_size;
    std::uint64_t limit = AviWriter::kDefaultPartLimit;  // within it, counted with the closing chunk
  };
  const Case cases[] = {
      {{}, 33333, {}, {}, 4, 0, 9216, 9216},                                    // the smallest limit
      {{}, 33333, {5, 0, 1000}, {0x10, 0x02, 0x10}, 1036, 1004, 10240, 10240},  // flags kept, also of an empty frame
      {{}, 33333, std::vector<std::size_t>(513, 4), {}, 6160, 8, 23552},        // the index grows past 512 entries
      {{}, 33333, {972}, {}, 984, 976, 9216},                                   // closing "JUNK" of size 0
      {{}, 33333, {976}, {}, 988, 980, 10240},                                  // and of 1020
      {{}, 33333, {8140}, {}, 8152, 8144, 16384, 16384},         // of 0 again, ending at the limit: the longest frame
      {{640, 480, 25, 1, 7}, 40000, {40, 3}, {}, 64, 44, 9216},  // any non-zero `compressed` is Corvath
      {{2, 2, 2997, 100}, 33366, {}, {}, 4, 0, 9216},
      {{2, 2, 0, 20}, 0, {}, {}, 4, 0, 9216},
      {{2, 2, 1, 4000}, 4000000000u, {}, {}, 4, 0, 9216},
      {{2, 2, 1, 5000}, 0, {}, {}, 4, 0, 9216},  // past 32 bits
      {{2, 2, -1, 1}, 0, {}, {}, 4, 0, 9216},
  };
  testsupport::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lengths.size() << " frames, movi " << c.movi << ", period " << c.period);
    testsupport::write_file(dir / "f.avi", Bytes(50000, 0x5A));  // an existing file is truncated
    const std::vector<Bytes> frames = frames_of(c.lengths);
    const Bytes f = write_avi(dir / "f.avi", frames, c.stream, c.flags, c.limit);
    avi::AviReader reader;
    ASSERT_EQ(reader.open(f).message, "");
    EXPECT_EQ(reader.index_used(), !frames.empty());
    EXPECT_TRUE(read_all(reader) == frames);
    const auto count = static_cast<std::uint32_t>(frames.size());
    Bytes want = expected_header(c.stream, c.period, count, c.movi, c.suggested, c.file_size - 8), idx1;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const auto flags = static_cast<std::uint32_t>(i < c.flags.size() ? c.flags[i] : 0x10);
      EXPECT_EQ(reader.frames()[i].flags, flags);
      idx1 += fcc("00dc") + words({flags, static_cast<std::uint32_t>(want.size() - 0x2008),
                                   static_cast<std::uint32_t>((frames[i].size() + 3) & ~std::size_t{3})});
      want += chunk("00dc", frames[i], 4);
    }
    want += chunk("idx1", idx1);
    want += chunk("JUNK", Bytes(c.file_size - want.size() - 8, 0));
    EXPECT_TRUE(f == want);
  }
}

// Limit 10240, three frames of 1000 bytes: the first fits in the first part,
// the others go on in an "AVIX" part. Every byte, as the layout gives it.
TEST(AviWriterOpenDml, ThreeFramesInTwoParts) {
  testsupport::TempDir dir;
  const std::vector<Bytes> frames = frames_of({1000, 1000, 1000});
  const Bytes f = write_avi(dir / "two.avi", frames, {}, {0x10, 0x10, 0x00}, 10240);

  Bytes want = expected_header({}, 33333, 1, 1052, 1004, 9268);
  set_u32(want, 0x8C, 3);    // dwLength: every frame
  set_u32(want, 0x1108, 3);  // dmlh dwTotalFrames
  // "indx": 4 longs an entry, AVI_INDEX_OF_INDEXES, two parts.
  Bytes indx = words({4, 2}) + fcc("00dc") + Bytes(12, 0) + words({9212, 0, 40, 1, 11316, 0, 48, 2});
  indx.resize(4120, 0);
  std::ranges::copy(chunk("indx", indx), want.begin() + 0xD4);
  // "ix00": 2 longs an entry, AVI_INDEX_OF_CHUNKS, base offset, then offset and size (bit 31: not a key frame).
  auto ix00 = [](std::uint32_t base, const Bytes& entries) {
    return chunk("ix00", words({0x01000002, static_cast<std::uint32_t>(entries.size() / 8)}) + fcc("00dc") +
                             words({base, 0, 0}) + entries);
  };
  want +=
      chunk("00dc", frames[0], 4) + ix00(0, words({8212, 1000})) + chunk("idx1", fcc("00dc") + words({0x10, 4, 1000}));
  want += list("AVIX",
               list("movi", chunk("00dc", frames[1], 4) + chunk("00dc", frames[2], 4) +
                                ix00(9276, words({32, 1000, 1040, 1000 | 0x80000000u}))) +
                   chunk("JUNK", Bytes(916, 0)),
               "RIFF");
  EXPECT_TRUE(f == want);
  EXPECT_EQ(part_frames(f, 10240, frames, {0x10, 0x10, 0x00}), (std::vector<std::uint32_t>{1, 2}));
}

// One byte past the limit opens a second part. A frame longer than the room
// left goes to a new part, frames of length 0 go on after a break, and a last
// part may end exactly at the limit. mediainfo counts every frame.
TEST(AviWriterOpenDml, EdgesOfTheLimit) {
  const std::tuple<std::vector<std::size_t>, std::vector<std::uint32_t>, std::size_t> cases[] = {
      {{1000, 7117}, {1, 1}, 0},
      {{940, 8140, 8140, 0}, {1, 2, 1}, 26624},  // the second part ends with exactly 16384 bytes
      {{1000, 7116, 0, 0, 8140, 8140, 0}, {2, 3, 2}, 0},
  };
  testsupport::TempDir dir;
  for (const auto& [lengths, parts, size] : cases) {
    const std::vector<Bytes> frames = frames_of(lengths);
    const Bytes f = write_avi(dir / "parts.avi", frames, {}, {}, 16384);
    EXPECT_EQ(part_frames(f, 16384, frames), parts);
    EXPECT_TRUE(size == 0 || f.size() == size) << f.size();
    if (testsupport::need_program("mediainfo")) {
      EXPECT_EQ(testsupport::run({"mediainfo", "--Inform=Video;%FrameCount%", (dir / "parts.avi").string()}).out,
                std::to_string(frames.size()) + "\n");
    }
  }
}

// With the smallest limit, 256 parts fill up after a few thousand frames:
// the frame that would need a 257th is refused, and the file is complete.
// The planner that the run asks first agrees.
TEST(AviWriterOpenDml, TwoHundredFiftySixPartsAtMost) {
  testsupport::TempDir dir;
  const std::string name = (dir / "full.avi").string();
  constexpr int kLength = 100;
  AviWriter writer(1);  // raised to the smallest limit
  ASSERT_TRUE(writer.init(name.c_str(), 2, 2, 25, 1, 1));
  std::vector<Bytes> frames;
  AviStatus result;
  do {
    Bytes buffer(kLength + 3);
    set_u32(buffer, 0, static_cast<std::uint32_t>(frames.size()));
    const bool fits = writer.fits(kLength);
    result = writer.write_frame(buffer.data(), kLength, 0x10);
    ASSERT_EQ(result.ok(), fits);
    if (result) frames.emplace_back(buffer.begin(), buffer.begin() + kLength);
  } while (result);
  EXPECT_EQ(result.message, "Output file " + name + " is full: an AVI file holds at most 256 parts of 9216 bytes");
  EXPECT_TRUE(AviWriter::can_hold(frames.size(), kLength, 1));
  EXPECT_FALSE(AviWriter::can_hold(frames.size() + 1, kLength, 1));
  ASSERT_TRUE(writer.flush());

  const Bytes f = testsupport::read_file(name);
  EXPECT_EQ(f.size(), layout::plan_parts(frames.size(), kLength, layout::kMinPartLimit, INT_MAX).file_length);
  EXPECT_EQ(part_frames(f, layout::kMinPartLimit, frames).size(), 256u);

  // For the program's own limit of 1 GiB: 256 parts of 172 frames of 1080p, and no more.
  constexpr std::uint64_t k1080p = 1920 * 1080 * 3;
  EXPECT_TRUE(AviWriter::can_hold(256 * 172, k1080p));
  EXPECT_FALSE(AviWriter::can_hold(256 * 173, k1080p));
  EXPECT_TRUE(AviWriter::can_hold(1, (std::uint64_t{1} << 30) - 8244));
  EXPECT_FALSE(AviWriter::can_hold(1, (std::uint64_t{1} << 30) - 8243));
  EXPECT_FALSE(AviWriter::can_hold(std::uint64_t{INT_MAX} + 1, 0));
}

std::string write_message(const std::string& name) { return "Unable to write to output file " + name; }

// A negative length, a frame longer than a part holds, a device that takes
// nothing, and flush() finding the file gone or turned into a directory (it
// reopens the file by name to complete its header). A file that cannot be
// created: quelmux_test's FailuresExitWithOne.
TEST(AviWriterFailure, RefusalsAndFailuresAreReported) {
  testsupport::TempDir dir;
  const std::string name = (dir / "n.avi").string();
  AviWriter writer(16384);
  ASSERT_TRUE(writer.init(name.c_str(), 2, 2, 25, 1, 0));
  Bytes frame(9000, 0);
  EXPECT_EQ(writer.write_frame(frame.data(), -1, 0x10).message, "Invalid frame length -1 for output file " + name);
  EXPECT_FALSE(writer.fits(8141));
  EXPECT_EQ(writer.write_frame(frame.data(), 8141, 0x10).message,
            "Frame of 8141 bytes is too large for output file " + name);
  EXPECT_TRUE(writer.write_frame(frame.data(), 5, 0x10));
  EXPECT_TRUE(writer.flush());
  EXPECT_EQ(u32(testsupport::read_file(name), 0x30), 1u);

  AviWriter full;
  EXPECT_EQ(full.init("/dev/full", 2, 2, 25, 1, 0).message, write_message("/dev/full"));
  EXPECT_EQ(full.write_frame(frame.data(), 12, 0x10).code, AviStatus::Code::closed);
  EXPECT_EQ(full.flush().code, AviStatus::Code::closed);

  for (const bool as_directory : {false, true}) {
    AviWriter gone;
    ASSERT_TRUE(gone.init(name.c_str(), 2, 2, 25, 1, 0));
    ASSERT_TRUE(gone.write_frame(frame.data(), 12, 0x10));
    fs::remove(name);
    if (as_directory) fs::create_directory(name);
    EXPECT_EQ(gone.flush().message, write_message(name));
  }
}

// A file system with a few KiB left: the header area takes 8204 bytes, and
// a frame past a part break, or in a later part, fails when the file,
// completed after it, would not fit (a frame of a plain file: crvtdec_test's
// NothingLost.FullDisk). The file left behind holds every frame written
// before, for our reader and GStreamer's, with every index. Where no disk
// space is reserved, a write fails at a frame, at the index, at the closing
// chunk or at a later part's "ix00"; the indexes that do not fit are left
// out, and readers scan (GStreamer finds the frames of the first part then,
// and of the others only through their indexes).
TEST(AviWriterFailure, FullFileSystem) {
  struct Case {
    const char* what;
    bool reserve;
    std::uint64_t free, limit;
    std::vector<std::size_t> lengths;
    int frame_failing;  // the first write_frame to fail, -1 for none
    bool flushed, indexed, gstreamer_reads_all;
  };
  constexpr std::uint64_t kPlain = AviWriter::kDefaultPartLimit;
  const Case cases[] = {
      {"exact fit", true, 16384, kPlain, {8140}, -1, true, true, true},  // the file ends at 16384
      // The first part holds two frames of 4000 bytes and ends at 16368; a
      // third one in a second part would take it to 20500.
      {"part break", true, 20480, 16384, {4000, 4000, 4100}, 2, false, true, true},
      {"later part", true, 24576, 16384, std::vector<std::size_t>(5, 4000), 4, false, true, true},
      {"exact fit in parts", true, 20480, 16384, {4000, 4000, 4000}, -1, true, true, true},
      {"frames unreserved", false, 16384, kPlain, std::vector<std::size_t>(4, 6000), 1, false, true, true},
      // 12000 bytes of chunks fit, 16008 of index do not.
      {"index unreserved", false, 28672, kPlain, std::vector<std::size_t>(1000, 4), -1, false, false, true},
      {"closing unreserved", false, 16384, kPlain, {8144}, -1, false, true, true},
      {"part break unreserved", false, 16384, 16384, {4000, 4060, 4000}, 2, false, true, true},
      // The last chunk ends at 20460, its "ix00" at 20500.
      {"last ix00 unreserved", false, 20480, 16384, {4000, 4000, 4120}, -1, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::SmallFileSystem fs(64 * 1024);
    if (!fs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    ASSERT_TRUE(fs.leave_free(c.free));
    const std::string name = fs.path("full.avi");
    AviWriter writer(c.limit, c.reserve);
    ASSERT_TRUE(writer.init(name.c_str(), 2, 2, 25, 1, c.limit == kPlain ? 0 : 1));
    int failing = -1;
    AviStatus status;
    for (std::size_t i = 0; i < c.lengths.size() && failing < 0; ++i) {
      Bytes frame(c.lengths[i] + 3, static_cast<std::uint8_t>(i));
      status = writer.write_frame(frame.data(), static_cast<int>(c.lengths[i]), 0x10);
      if (!status) failing = static_cast<int>(i);
    }
    const AviStatus flushed = writer.flush();  // after a failed frame: closed, nothing more to say
    EXPECT_EQ(failing, c.frame_failing);
    EXPECT_EQ(flushed.ok(), c.flushed);
    const std::size_t kept = failing < 0 ? c.lengths.size() : static_cast<std::size_t>(failing);
    const std::string lost = write_message(name) + "\nOutput file " + name + " holds the " + std::to_string(kept) +
                             " frames written before the failure";
    EXPECT_EQ(status.message + flushed.message, c.flushed ? "" : lost);
    EXPECT_TRUE(!c.flushed || fs::file_size(name) == c.free);
    avi::AviReader reader;
    ASSERT_EQ(reader.open(name).message, "");
    EXPECT_EQ(reader.unfinished(), "");
    EXPECT_EQ(reader.index_used(), c.indexed);
    std::vector<Bytes> want;
    for (std::size_t i = 0; i < kept; ++i) want.emplace_back(c.lengths[i], static_cast<std::uint8_t>(i));
    EXPECT_TRUE(read_all(reader) == want);
    if (c.gstreamer_reads_all && testsupport::need_program("gst-launch-1.0")) {
      EXPECT_TRUE(testsupport::demux(name, "avidemux") == want);  // no fill: every length is a multiple of 4
    }
  }
}

// Twelve frames in one RIFF, the fourth no key frame; sixty in 4 parts of at
// most 10240 bytes.
std::vector<Bytes> some_frames() { return frames_of({0, 1, 2, 3, 4, 5, 6, 7, 8, 1001, 0, 4096}); }
std::vector<Bytes> many_frames() {
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n < 60; ++n) lengths.push_back(n % 7 == 3 ? 0 : 17 * n % 1500);
  return frames_of(lengths);
}
Bytes write_plain(const fs::path& path) {
  return write_avi(path, some_frames(), {32, 16, 30000, 1001, 1}, {0x10, 0x10, 0x10, 0x02});
}
Bytes write_in_parts(const fs::path& path) { return write_avi(path, many_frames(), {32, 16, 25, 1, 1}, {}, 10240); }

// An index that cannot be used is not: "idx1" with a wrong entry, or any
// damage to the OpenDML indexes. The frames are the same, the first part's
// found through "idx1" where it holds, the rest by scanning (which knows no
// flags).
TEST(AviReader, DamagedIndexesAreNotUsed) {
  testsupport::TempDir dir;
  const Bytes plain = write_plain(dir / "w.avi"), parts = write_in_parts(dir / "parts.avi");
  const std::size_t idx1 = u32(plain, 0x2004) + 0x2008, entries = idx1 + 8;
  const std::size_t indx = 0xD4, first_ix = u32(parts, indx + 32), second_ix = u32(parts, indx + 48);
  const std::tuple<const char*, const Bytes*, std::size_t, std::uint32_t> damages[] = {
      {"no idx1", &plain, idx1, 0x4B4E554A},  // "JUNK"
      {"idx1 entry past movi", &plain, entries + 5 * 16 + 8, 0x00100000},
      {"idx1 entry into a frame", &plain, entries + 9 * 16 + 8, u32(plain, entries + 9 * 16 + 8) + 8},
      {"idx1 entry length", &plain, entries + 2 * 16 + 12, 7},
      {"no indx", &parts, indx, 0x4B4E554A},
      {"wLongsPerEntry", &parts, indx + 8, 0x00000002},
      {"bIndexType", &parts, indx + 8, 0x01000004},
      {"no entries", &parts, indx + 12, 0},
      {"more entries than room", &parts, indx + 12, 300},
      {"wrong chunk id", &parts, indx + 16, 0x63643130},  // "01dc"
      {"entry off its ix00", &parts, indx + 48, static_cast<std::uint32_t>(second_ix + 4)},
      {"entries out of order", &parts, indx + 48, static_cast<std::uint32_t>(first_ix)},
      {"entry past the file", &parts, indx + 52, 1},  // qwOffset high word
      {"ix00 id", &parts, second_ix, 0x31307869},     // "ix01"
      {"ix00 type", &parts, second_ix + 8, 0x00000002},
      {"ix00 count past its size", &parts, second_ix + 12, 1000},
      {"ix00 base", &parts, second_ix + 20, 4},
      {"ix00 entry offset", &parts, second_ix + 32, 0},
      {"ix00 entry size", &parts, second_ix + 36, 0x80000001},
  };
  for (const auto& [what, good, at, value] : damages) {
    SCOPED_TRACE(what);
    Bytes bad = *good;
    set_u32(bad, at, value);
    avi::AviReader reader;
    ASSERT_EQ(reader.open(bad).message, "");
    EXPECT_FALSE(reader.super_index_used() || reader.index_used());
    if (good == &plain) {
      EXPECT_EQ(read_all(reader), some_frames());
      EXPECT_EQ(reader.frames()[3].flags, 0u);
      continue;
    }
    EXPECT_EQ(reader.parts(), 4u);
    EXPECT_EQ(read_all(reader), many_frames());
    EXPECT_EQ(reader.frames()[5].flags, 0x10u);  // from "idx1"
    EXPECT_EQ(reader.frames()[55].flags, 0u);    // found by scanning
  }
  // An index that names a chunk twice is refused.
  Bytes twice = plain, twice_in_parts = parts;
  for (const std::size_t k : {8, 12}) set_u32(twice, entries + 7 * 16 + k, u32(plain, entries + 4 * 16 + k));
  for (const std::size_t k : {32, 36}) set_u32(twice_in_parts, second_ix + 16 + k, u32(parts, second_ix + k));
  for (const Bytes* f : {&twice, &twice_in_parts}) {
    avi::AviReader reader;
    EXPECT_NE(reader.open(*f).message.find("more than once"), std::string::npos);
  }
}

// Files whose writer never finished, as a crash or a signal leaves them:
// the sizes as first written (RIFF and "movi" sizes 0, every part's too) or
// as completed, cut anywhere. Every whole frame chunk before the cut is
// found, in order; a cut before the frame list leaves nothing to read. A
// "movi" list that ends before frame chunks that follow it is taken as
// unfinished too. A file that shrinks after it was opened fails to read.
TEST(AviReader, UnfinishedAndShrunkenFilesKeepEveryWholeFrame) {
  testsupport::TempDir dir;
  for (const bool in_parts : {false, true}) {
    const std::vector<Bytes> frames = in_parts ? many_frames() : some_frames();
    const Bytes done = in_parts ? write_in_parts(dir / "w.avi") : write_plain(dir / "w.avi");
    Bytes first_written = done;
    std::vector<std::size_t> cuts = {100, 8203, 8204, 8205, 8211, u32(done, 0x2004) + 0x2008u, done.size()};
    for (std::size_t at = 0; at < done.size(); at += 8 + u32(done, at + 4)) {
      set_u32(first_written, at + 4, 0);                      // RIFF
      set_u32(first_written, at == 0 ? 0x2004 : at + 16, 0);  // "movi"
      cuts.insert(cuts.end(), {at, at + 12});
    }
    avi::AviReader complete;
    ASSERT_TRUE(complete.open(done));
    for (const avi::Frame& f : complete.frames())
      cuts.insert(cuts.end(), {f.offset - 8, f.offset + f.size - 1, (f.offset + f.size + 3) / 4 * 4});
    for (const std::size_t cut : cuts) {
      for (const Bytes* file : {&std::as_const(first_written), cut < done.size() ? &done : &first_written}) {
        SCOPED_TRACE(testing::Message() << in_parts << " cut at " << cut << (file == &done ? " completed" : ""));
        avi::AviReader reader;
        const AviStatus opened = reader.open(std::span<const std::uint8_t>(file->data(), cut));
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
  Bytes empty = write_plain(dir / "w.avi");
  set_u32(empty, 0x2004, 4);
  avi::AviReader reader;
  ASSERT_EQ(reader.open(empty).message, "");
  EXPECT_NE(reader.unfinished().find("frame chunks follow"), std::string::npos) << reader.unfinished();
  EXPECT_EQ(read_all(reader), some_frames());

  // A missing file, and one that shrinks after it was opened.
  EXPECT_NE(reader.open(dir / "none.avi").message.find("cannot open"), std::string::npos);
  ASSERT_EQ(reader.open(dir / "w.avi").message, "");
  fs::resize_file(dir / "w.avi", 8300);
  Bytes buffer(reader.largest_frame()), small(10);
  EXPECT_TRUE(reader.read_frame(5, buffer));  // still within the file
  EXPECT_NE(reader.read_frame(11, buffer).message.find("frame 11 could not be read"), std::string::npos);
  EXPECT_FALSE(reader.read_frame(12, buffer));
  EXPECT_FALSE(reader.read_frame(9, small));
}

// avimux gets the same buffers as a raw file: the reader finds them all.
TEST(AviReader, ReadsWhatAvimuxWrote) {
  if (!testsupport::need_program("gst-launch-1.0")) GTEST_SKIP();
  testsupport::TempDir dir;
  const std::string d = dir.path().string() + "/";
  const auto r = testsupport::run({"sh", "-c",
                                   "gst-launch-1.0 -q videotestsrc num-buffers=5 pattern=ball ! "
                                   "video/x-raw,format=BGR,width=64,height=48,framerate=30/1 ! tee name=t t. ! queue ! "
                                   "avimux ! filesink location=" +
                                       d + "raw.avi t. ! queue ! filesink location=" + d + "raw.bin"});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  avi::AviReader reader;
  ASSERT_EQ(reader.open(fs::path(d + "raw.avi")).message, "");
  EXPECT_TRUE(reader.index_used());
  const std::vector<Bytes> frames = read_all(reader);
  ASSERT_EQ(frames.size(), 5u);
  Bytes backwards;  // the frames last first, each bottom-up: the raw file's rows in reverse
  for (auto f = frames.rbegin(); f != frames.rend(); ++f) backwards += *f;
  EXPECT_TRUE(backwards == testsupport::flip_rows(testsupport::read_file(d + "raw.bin"), 64 * 3));
}

}  // namespace

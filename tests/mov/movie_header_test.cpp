// The movie header reader and the frame offsets it builds: printed lines,
// fields and offsets for written movies and for hand-built headers that bend
// every rule the reader has.
#include "mov/movie_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "mov/atom_builder.h"
#include "mov/atom_search.h"
#include "mov/movie_writer.h"
#include "mov/sample_tables.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Offsets = std::vector<std::int64_t>;

struct Header {
  bool ok;
  std::string out;  // the printed lines, then the error
  mov_info info;
  Offsets offsets;
};

// Reads `bytes` with a window of `window` bytes (-1: all of them); a window
// longer than the bytes gets a zero tail.
Header read(Bytes bytes, int window = -1) {
  if (window < 0) window = static_cast<int>(bytes.size());
  if (static_cast<std::size_t>(window) > bytes.size()) bytes.resize(static_cast<std::size_t>(window));
  Header h{};
  const MovieHeader m = read_mov_header(bytes.data(), window, [&h](std::string_view line) { (h.out += line) += '\n'; });
  if (!m.ok()) h.out += m.error + '\n';
  h.ok = m.ok();
  h.info = m.info;
  h.offsets = m.frame_offsets;
  EXPECT_EQ(m.total_frames, static_cast<int>(m.frame_offsets.size()));
  return h;
}

// Just the atoms and fields the reader takes, in `order`; an entry longer
// than a tag is written as raw bytes.
struct BareHeader {
  std::uint32_t width = 320 << 16;  // 16.16
  std::uint32_t height = 240 << 16;
  const char* format = "raw ";
  std::vector<sample_to_chunk> runs{{1, 1, 1}};
  std::vector<std::uint64_t> chunks{1000, 2000};
  std::uint32_t sample_size = 0;  // of "stsz", where `order` has it
  std::vector<std::uint32_t> sizes{};
  std::uint32_t run_count = 0;  // 0: the number of runs
  std::vector<std::string> order{"mvhd", "tkhd", "mdhd", "stsd", "stts", "stsc", "stco"};

  Bytes bytes() const {
    movgen::AtomBuilder a;
    for (const std::string& tag : order) {
      if (tag == "mvhd") a.begin_full("mvhd").zeros(96).end();
      if (tag == "tkhd") a.begin_full("tkhd").zeros(72).u32(width).u32(height).end();
      if (tag == "mdhd") a.begin_full("mdhd").u32(0).u32(0).u32(600).u32(0).u32(0).end();
      if (tag == "stsd") a.begin_full("stsd").u32(1).begin(format).zeros(78).end().end();
      if (tag == "stts") a.begin_full("stts").u32(1).u32(5).u32(20).end();
      if (tag == "stsc") {
        a.begin_full("stsc").u32(run_count != 0 ? run_count : static_cast<std::uint32_t>(runs.size()));
        for (const auto& r : runs) a.u32(r.first_chunk).u32(r.samples_per_chunk).u32(r.sample_description_id);
        a.end();
      }
      if (tag == "stsz") {
        a.begin_full("stsz").u32(sample_size).u32(static_cast<std::uint32_t>(sizes.size()));
        for (std::uint32_t z : sizes) a.u32(z);
        a.end();
      }
      if (tag == "stco" || tag == "co64") {
        a.begin_full(tag.c_str()).u32(static_cast<std::uint32_t>(chunks.size()));
        for (std::uint64_t c : chunks) tag == "co64" ? a.u64(c) : a.u32(static_cast<std::uint32_t>(c));
        a.end();
      }
      if (tag.size() > 4) a.bytes(Bytes(tag.begin(), tag.end()));
    }
    return a.take();
  }
};

Bytes writer_moov() {
  movgen::MovieLayout layout;
  std::string error;
  EXPECT_TRUE(movgen::plan_movie({}, layout, error)) << error;
  return movgen::build_moov({}, layout);
}

TEST(MovieHeader, EveryLineOfAWrittenMovieAndEachMissingTag) {
  const char* const steps[] = {
      "Movie header found\n",
      "Track header found\nWidth = 320\nHeight = 240\n",
      "Media header found\n",
      "Sample description found, number of entries = 1\nData format = \"raw \"\n",
      "Sample to time table found\nFrame rate = 30.000000\n",
      "Sample to chunk table found\nNumber of entries = 1\n",
      "Sample offset table found\nNumber of entries = 30\n",
      "30 frames indexed\n",
  };
  const char* const tags[] = {"mvhd", "tkhd", "mdhd", "stsd", "stts", "stsc", "stco"};
  std::string lines;
  for (int k = 0; k < 8; ++k) {
    Bytes moov = writer_moov();
    if (k < 7) std::copy_n("xxxx", 4, std::search(moov.begin(), moov.end(), tags[k], tags[k] + 4));
    const Header h = read(moov);
    EXPECT_EQ(h.ok, k == 7);
    EXPECT_EQ(h.out, lines + (k < 7 ? "Unable to find tag \"" + std::string(tags[k]) + "\"\n" : steps[7]));
    EXPECT_EQ(h.offsets.size(), k < 7 ? 0u : 30u);
    lines += steps[k];
  }
}

// Each case bends a bare header and gives the result, the end of the
// output, and the offsets when the read succeeds.
TEST(MovieHeader, HandBuiltHeaders) {
  const std::string refused = "Sample table runs past the header window\n";
  const struct {
    const char* name;
    std::function<void(BareHeader&)> bend;
    int window;  // -1: the bytes; 0: the reader's own
    bool ok;
    std::string ending;
    Offsets offsets = {};
  } cases[] = {
      {"plain",
       [](BareHeader&) {},
       -1,
       true,
       "Number of entries = 1\nSample offset table found\nNumber of entries = 2\n2 frames indexed\n",
       {1000, 2000}},
      {"out of order", [](BareHeader& b) { b.order = {"mvhd", "tkhd", "mdhd", "stsd", "stsc", "stts", "stco"}; }, -1,
       false, "Frame rate = 30.000000\nUnable to find tag \"stsc\"\n"},
      {"track first", [](BareHeader& b) { b.order = {"tkhd", "mvhd", "mdhd", "stsd", "stts", "stsc", "stco"}; }, -1,
       false, "Movie header found\nUnable to find tag \"tkhd\"\n"},
      // 4 x 2 pixels, the fixed-point sizes cut to their integer part: s = 24.
      {"runs split chunks",
       [](BareHeader& b) {
         b.width = 0x00048000, b.height = 0x0002FFFF, b.runs = {{1, 2, 1}, {3, 1, 1}};
         b.chunks = {1000, 5000, 9000, 0xC0000000};
       },
       -1,
       true,
       "Number of entries = 4\n6 frames indexed\n",
       {1000, 1024, 5000, 5024, 9000, 0xC0000000}},
      {"no chunks", [](BareHeader& b) { b.chunks = {}; }, -1, true, "Number of entries = 0\n0 frames indexed\n"},
      {"no runs", [](BareHeader& b) { b.runs = {}; }, -1, true, "0 frames indexed\n"},
      {"no width", [](BareHeader& b) { b.width = 0; }, -1, false, "= 2\nFrames of 0 x 240 pixels hold no picture\n"},
      {"no height", [](BareHeader& b) { b.height = 0; }, -1, false, "= 2\nFrames of 320 x 0 pixels hold no picture\n"},
      {"co64",
       [](BareHeader& b) {
         b.order.back() = "co64", b.chunks = {0x123456789ull, 1000};
       },
       -1,
       true,
       "Number of entries = 2\n2 frames indexed\n",
       {0x123456789, 1000}},
      {"co64 nearer",
       [](BareHeader& b) {
         b.order.back() = "co64", b.order.push_back("stco"), b.chunks = {0x123456789ull, 1000};
       },
       -1,
       true,
       "",
       {0x123456789, 1000}},
      {"stco nearer",
       [](BareHeader& b) {
         b.order.push_back("co64"), b.chunks = {0x123456789ull, 1000};
       },
       -1,
       true,
       "",
       {0x23456789, 1000}},
      {"no stco", [](BareHeader& b) { b.order.pop_back(); }, -1, false, "Unable to find tag \"stco\"\n"},
      {"WRLE", [](BareHeader& b) { b.format = "WRLE"; }, -1, true, "2 frames indexed\n", {1000, 2000}},
      {"jpeg", [](BareHeader& b) { b.format = "jpeg"; }, -1, false,
       "Data format = \"jpeg\"\nUnsupported data format, please select \"BMP\" or \"none\" as the video compression "
       "when saving a .mov file\n"},
      {"runs in window", [](BareHeader& b) { b.run_count = 1000; }, 0, true, "frames indexed\n"},
      {"runs past", [](BareHeader& b) { b.run_count = 1000; }, -1, false, "Number of entries = 1000\n" + refused},
      {"runs negative", [](BareHeader& b) { b.run_count = 0xFFFFFFFE; }, 0, false, "= -2\n" + refused},
      {"too large", [](BareHeader& b) { b.width = b.height = 0xFFFF0000; }, -1, false,
       "Frames of 65535 x 65535 pixels take 12884508675 bytes, more than the 2147483647 an AVI frame can hold\n"},
      // 26755 x 26755 x 3 = 2147490075: just over; 26754 lines fit.
      {"just over", [](BareHeader& b) { b.width = b.height = 26755u << 16; }, -1, false, "an AVI frame can hold\n"},
      {"just fits", [](BareHeader& b) { b.width = 26755u << 16, b.height = 26754u << 16; }, -1, true, "indexed\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BareHeader bare;
    c.bend(bare);
    const Header h = read(bare.bytes(), c.window == 0 ? mov_header_window : c.window);
    EXPECT_EQ(h.ok, c.ok);
    EXPECT_TRUE(h.out.ends_with(c.ending)) << h.out;
    if (!c.offsets.empty() || !c.ok) {
      EXPECT_EQ(h.offsets, c.offsets);
    }
  }
  // The chunk table is last: it fits the window exactly, or not at all.
  const Bytes exact = BareHeader{}.bytes();
  EXPECT_TRUE(read(exact, static_cast<int>(exact.size()) - 1).out.ends_with("= 2\n" + refused));
  // A "free" atom before the media header holding another one's bytes: its
  // time scale of 1000 is taken.
  movgen::AtomBuilder fake;
  fake.begin("free").u32(32).fourcc("mdhd").u32(0).u32(0).u32(0).u32(1000).end();
  const Bytes f = fake.take();
  BareHeader bare;
  bare.order.insert(bare.order.begin() + 2, std::string(f.begin(), f.end()));
  const Header h = read(bare.bytes());
  EXPECT_EQ(h.info.time_scale, 1000);
  EXPECT_NE(h.out.find("Frame rate = 50.000000\n"), std::string::npos);
}

// The declared sample size tells padded rows from packed ones: 3 x 2 pixels
// take rows of 9 bytes, 10 padded to 2, 12 padded to 4; the printed lines
// stay those of a packed movie.
TEST(MovieHeader, DeclaredSampleSizeGivesThePaddedRows) {
  const std::vector<std::string> after{"mvhd", "tkhd", "mdhd", "stsd", "stts", "stsc", "stsz", "stco"};
  const std::vector<std::string> before{"mvhd", "tkhd", "mdhd", "stsz", "stsd", "stts", "stsc", "stco"};
  const struct {
    std::uint32_t sample_size;
    std::vector<std::uint32_t> sizes;
    const std::vector<std::string>& order;
    std::uint32_t row;
  } cases[] = {{20, {}, after, 10}, {24, {}, after, 12}, {0, {24, 18}, after, 12},
               {18, {}, after, 9},  {22, {}, after, 9},  {21, {}, after, 9},
               {16, {}, after, 9},  {0, {}, after, 9},   {24, {}, before, 9}};
  BareHeader packed;
  packed.width = 3 << 16;
  packed.height = 2 << 16;
  packed.runs = {{1, 2, 1}};
  const std::string lines = read(packed.bytes()).out;
  for (const auto& c : cases) {
    BareHeader bare = packed;
    bare.sample_size = c.sample_size;
    bare.sizes = c.sizes;
    bare.order = c.order;
    const Header h = read(bare.bytes());
    SCOPED_TRACE(testing::Message() << c.sample_size << " row " << c.row);
    EXPECT_EQ(h.out, lines);
    EXPECT_EQ(h.info.row_bytes, c.row);
    const std::int64_t f = 2 * c.row;
    EXPECT_EQ(h.offsets, (Offsets{1000, 1000 + f, 2000, 2000 + f}));
  }
}

// The tag of a written movie behind 5000 zero bytes lies at 5012: all four of
// its bytes must be inside the window; fields past it read as zero.
TEST(MovieHeader, TheWindowBoundsTheSearch) {
  Bytes bytes(5000, 0);
  const Bytes moov = writer_moov();
  bytes.insert(bytes.end(), moov.begin(), moov.end());
  EXPECT_EQ(read(bytes, 5015).out, "Unable to find tag \"mvhd\"\n");
  EXPECT_EQ(read(bytes, 5016).out, "Movie header found\nUnable to find tag \"tkhd\"\n");
  EXPECT_TRUE(read(bytes).ok);
  BareHeader bare;
  bare.order = {"mvhd"};
  bytes = bare.bytes();
  const std::size_t tkhd = bytes.size();
  bytes.insert(bytes.end(), {0, 0, 0, 92, 't', 'k', 'h', 'd'});
  bytes.resize(bytes.size() + 100, 0xFF);
  EXPECT_EQ(read(bytes, static_cast<int>(tkhd + 20)).out,
            "Movie header found\nTrack header found\nWidth = 0\nHeight = 0\nUnable to find tag \"mdhd\"\n");
}

// Bytes past the window count as zero: a tag ending on the window's last
// byte is found, one that needs bytes behind it is not, whatever they hold,
// unless it ends in zeros. The position moves to the tag, the window shrinks.
TEST(FindTag, FindsTheFirstOccurrenceWithinTheWindow) {
  const struct {
    std::string text;
    const char* tag;
    int window;
    bool found;
    int moved;
  } cases[] = {
      {"....mvhd....mvhd....", "mvhd", 20, true, 4},
      {"stsd....", "stsd", 8, true, 0},
      {"stsc....stcxstc", "stco", 15, false, 0},
      {"mvhd", "mvhd", 0, false, 0},
      {"mvhd", "mvhd", -1, false, 0},
      {"xxxxstco", "stco", 8, true, 4},
      {"xxxxstco", "stco", 7, false, 0},
      {std::string("ab\0\0", 4), "b\0\0\0", 2, true, 1},
  };
  for (auto c : cases) {
    auto* position = reinterpret_cast<unsigned char*>(c.text.data());
    int window = c.window;
    EXPECT_EQ(findtag(position, c.tag, window), c.found) << c.text << " / " << c.window;
    EXPECT_EQ(reinterpret_cast<char*>(position) - c.text.data(), c.moved) << c.text;
    EXPECT_EQ(window, c.window - c.moved) << c.text;
  }
}

// The offsets hold the claimed frames that the file holds, up to the first it
// does not and at most as many as fit side by side plus one a chunk;
// total_frames keeps the claim. Every run claims chunk 1, yet chunk j can
// only reach run j + 1.
TEST(FrameOffsets, RunsChunksAndTheFileSize) {
  const struct {
    std::vector<sample_to_chunk> runs;
    std::vector<std::uint64_t> chunks;
    std::uint64_t frame_size, file_size;
    int max_frames;
    Offsets offsets;
    int claimed;
    std::string error = {};
  } cases[] = {
      {{{1, 1, 1}, {2, 0, 1}, {3, 2, 1}}, {10, 20, 30}, 5, INT64_MAX, INT_MAX, {10, 30, 35}, 3},
      {{{1, 1, 1}, {1, 2, 1}, {1, 3, 1}},
       {0, 100, 200},
       1,
       INT64_MAX,
       INT_MAX,
       {0, 1, 100, 101, 102, 200, 201, 202},
       8},
      {{{7, 2, 1}}, {0, 100}, 1, INT64_MAX, INT_MAX, {0, 1, 100, 101}, 4},
      {{{1, 3, 1}},
       {0xC0000000u},
       INT_MAX,
       INT64_MAX,
       INT_MAX,
       {0xC0000000, 0xC0000000LL + INT_MAX, 0xC0000000LL + 2LL * INT_MAX},
       3},
      {{{1, 3, 1}}, {100, 1000}, 100, 1000, INT_MAX, {100, 200, 300}, 6},
      {{{1, 3, 1}}, {100, 0}, 100, 350, INT_MAX, {100, 200}, 6},
      {{{1, 3, 1}}, {100, 0}, 100, 400, INT_MAX, {100, 200, 300, 0, 100, 200}, 6},
      {{{1, 0x7FFFFFFF, 1}}, {0}, 100, 250, INT_MAX, {0, 100}, 0x7FFFFFFF},
      {{{1, 2, 1}}, {0xFFFFFFFFFFFFFF00ull}, 100, 1000, INT_MAX, {}, 2},
      {{{1, 1, 1}}, {0, 0, 0, 0, 0}, 100, 100, INT_MAX, {0, 0, 0, 0, 0}, 5},
      {{{1, 5, 1}},
       {0, 0, 0, 0},
       100,
       1000,
       INT_MAX,
       {0, 100, 200, 300, 400, 0, 100, 200, 300, 400, 0, 100, 200, 300},
       20},
      {{{1, 0x80000000u, 1}},
       {0},
       3,
       INT64_MAX,
       INT_MAX,
       {},
       0,
       "Too many frames: the sample tables describe 2147483648, at most 2147483647 can be indexed"},
      {{{1, 0xFFFFFFFFu, 1}}, {0, 0}, 3, INT64_MAX, INT_MAX, {}, 0, "Too many frames"},
      {{{1, 3, 1}},
       {0, 10},
       1,
       INT64_MAX,
       5,
       {},
       0,
       "Too many frames: the sample tables describe 6, at most 5 can be indexed"},
      {{{1, 3, 1}}, {0, 10}, 1, INT64_MAX, 6, {0, 1, 2, 10, 11, 12}, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.chunks.size() << " chunks, file of " << c.file_size);
    MovieHeader h;
    EXPECT_EQ(calc_frame_offsets(c.runs, c.chunks, c.frame_size, h, c.max_frames, c.file_size), c.error.empty());
    EXPECT_EQ(h.frame_offsets, c.offsets);
    EXPECT_EQ(h.total_frames, c.error.empty() ? c.claimed : h.total_frames);
    EXPECT_TRUE(h.error.starts_with(c.error)) << h.error;
  }
}

}  // namespace

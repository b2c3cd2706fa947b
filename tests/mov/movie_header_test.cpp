#include "mov/movie_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "mov/atom_builder.h"
#include "mov/movie_writer.h"
#include "mov/sample_tables.h"
#include "mov/synthetic_frames.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using movgen::AtomBuilder;

struct Header {
  int result;
  std::string out;
  mov_info info;
  std::vector<std::int64_t> offsets;
};

// Runs read_mov_header on `bytes` with a window of `window` bytes (default: all
// of them); a window longer than the bytes gets a zero tail.
Header read(Bytes bytes, int window = -1) {
  if (window < 0) window = static_cast<int>(bytes.size());
  if (static_cast<std::size_t>(window) > bytes.size()) bytes.resize(static_cast<std::size_t>(window));
  Header h{};
  const MovieHeader m = read_mov_header(bytes.data(), window, [&h](std::string_view line) { (h.out += line) += '\n'; });
  if (!m.ok()) h.out += m.error + '\n';
  h.result = m.ok();
  h.info = m.info;
  h.offsets = m.frame_offsets;
  EXPECT_EQ(m.total_frames, static_cast<int>(m.frame_offsets.size()));
  return h;
}

// A bare header: just the atoms and fields the reader takes, in `order`.
struct BareHeader {
  std::uint32_t width = 320 << 16;  // 16.16
  std::uint32_t height = 240 << 16;
  std::uint32_t time_scale = 600;
  std::uint32_t duration = 20;
  const char* format = "raw ";
  std::vector<sample_to_chunk> runs{{1, 1, 1}};
  std::vector<std::uint64_t> chunks{1000, 2000};
  std::uint32_t sample_size = 0;           // of "stsz", where `order` has it
  std::vector<std::uint32_t> sizes{};      // its table
  std::uint32_t run_count = 0xFFFFFFFF;    // 0xFFFFFFFF: the number of runs
  std::uint32_t chunk_count = 0xFFFFFFFF;  // 0xFFFFFFFF: the number of chunks
  std::vector<std::string> order{"mvhd", "tkhd", "mdhd", "stsd", "stts", "stsc", "stco"};

  Bytes bytes() const {
    AtomBuilder a;
    for (const std::string& tag : order) {
      if (tag == "mvhd") a.begin_full("mvhd").zeros(96).end();
      if (tag == "tkhd") a.begin_full("tkhd").zeros(72).u32(width).u32(height).end();
      if (tag == "mdhd") a.begin_full("mdhd").u32(0).u32(0).u32(time_scale).u32(0).u32(0).end();
      if (tag == "stsd") a.begin_full("stsd").u32(1).begin(format).zeros(78).end().end();
      if (tag == "stts") a.begin_full("stts").u32(1).u32(5).u32(duration).end();
      if (tag == "stsc") {
        a.begin_full("stsc").u32(run_count != 0xFFFFFFFF ? run_count : static_cast<std::uint32_t>(runs.size()));
        for (const auto& r : runs) a.u32(r.first_chunk).u32(r.samples_per_chunk).u32(r.sample_description_id);
        a.end();
      }
      if (tag == "stsz") {
        a.begin_full("stsz").u32(sample_size).u32(static_cast<std::uint32_t>(sizes.size()));
        for (std::uint32_t z : sizes) a.u32(z);
        a.end();
      }
      if (tag == "stco" || tag == "co64") {
        a.begin_full(tag.c_str())
            .u32(chunk_count != 0xFFFFFFFF ? chunk_count : static_cast<std::uint32_t>(chunks.size()));
        for (std::uint64_t c : chunks) tag == "co64" ? a.u64(c) : a.u32(static_cast<std::uint32_t>(c));
        a.end();
      }
      if (tag.size() > 4) a.bytes(Bytes(tag.begin(), tag.end()));  // raw bytes
    }
    return a.take();
  }
};

// The movie atom that the sample writer gives `options`.
Bytes writer_moov(const movgen::MovieOptions& options) {
  movgen::MovieLayout layout;
  std::string error;
  EXPECT_TRUE(movgen::plan_movie(options, layout, error)) << error;
  return movgen::build_moov(options, layout);
}

void rename_tag(Bytes& bytes, const char* from, const char* to) {
  const auto at = std::search(bytes.begin(), bytes.end(), from, from + 4);
  ASSERT_NE(at, bytes.end()) << from;
  std::copy(to, to + 4, at);
}

const char* const lines_of_default_movie[] = {
    "Movie header found\n",
    "Track header found\nWidth = 320\nHeight = 240\n",
    "Media header found\n",
    "Sample description found, number of entries = 1\nData format = \"raw \"\n",
    "Sample to time table found\nFrame rate = 30.000000\n",
    "Sample to chunk table found\nNumber of entries = 1\n",
    "Sample offset table found\nNumber of entries = 30\n",
    "30 frames indexed\n",
};

std::string default_output(int steps) {
  std::string s;
  for (int i = 0; i < steps; ++i) s += lines_of_default_movie[i];
  return s;
}

TEST(MovieHeader, PrintsEveryLineOfAWrittenMovie) {
  const Header h = read(writer_moov({}));
  EXPECT_EQ(h.result, 1);
  EXPECT_EQ(h.out, default_output(8));
  EXPECT_EQ(h.info.width, 320);
  EXPECT_EQ(h.info.height, 240);
  EXPECT_EQ(h.info.time_scale, 600);
  EXPECT_EQ(h.info.sample_duration, 20);
  EXPECT_EQ(std::string(h.info.data_format, 4), "raw ");
  EXPECT_EQ(h.offsets.size(), 30u);
}

TEST(MovieHeader, EachMissingTagStopsTheReadAfterTheLinesBeforeIt) {
  const char* tags[] = {"mvhd", "tkhd", "mdhd", "stsd", "stts", "stsc", "stco"};
  for (int k = 0; k < 7; ++k) {
    Bytes moov = writer_moov({});
    rename_tag(moov, tags[k], "xxxx");
    const Header h = read(moov);
    EXPECT_EQ(h.result, 0) << tags[k];
    EXPECT_EQ(h.out, default_output(k) + "Unable to find tag \"" + tags[k] + "\"\n");
    EXPECT_TRUE(h.offsets.empty());
  }
}

TEST(MovieHeader, AtomsOutOfOrderAreNotFound) {
  BareHeader bare;
  bare.order = {"mvhd", "tkhd", "mdhd", "stsd", "stsc", "stts", "stco"};
  Header h = read(bare.bytes());
  EXPECT_EQ(h.result, 0);
  EXPECT_TRUE(h.out.ends_with("Frame rate = 30.000000\nUnable to find tag \"stsc\"\n"));
  bare.order = {"tkhd", "mvhd", "mdhd", "stsd", "stts", "stsc", "stco"};
  h = read(bare.bytes());
  EXPECT_EQ(h.out, "Movie header found\nUnable to find tag \"tkhd\"\n");
}

TEST(MovieHeader, TagInAnEarlierPayloadIsTakenThere) {
  // A "free" atom before the media header holds the bytes of another one, with
  // a time scale of 1000 where the real atom has 600.
  BareHeader bare;
  AtomBuilder fake;
  fake.begin("free").u32(32).fourcc("mdhd").u32(0).u32(0).u32(0).u32(1000).end();
  const Bytes f = fake.take();
  bare.order = {"mvhd", "tkhd", std::string(f.begin(), f.end()), "mdhd", "stsd", "stts", "stsc", "stco"};
  const Header h = read(bare.bytes());
  EXPECT_EQ(h.result, 1);
  EXPECT_EQ(h.info.time_scale, 1000);
  EXPECT_NE(h.out.find("Frame rate = 50.000000\n"), std::string::npos);
}

TEST(MovieHeader, RunsAndChunksGiveTheFrameOffsets) {
  // 4 x 2 pixels: s = 24 bytes. Runs (1,2,1) and (3,1,1) over chunks P, Q, R, T.
  // The fixed-point sizes keep their integer part.
  BareHeader bare;
  bare.width = 0x00048000;  // 4.5
  bare.height = 0x0002FFFF;
  bare.runs = {{1, 2, 1}, {3, 1, 1}};
  bare.chunks = {1000, 5000, 9000, 0xC0000000};
  const Header h = read(bare.bytes());
  EXPECT_EQ(h.result, 1);
  EXPECT_EQ(h.offsets, (std::vector<std::int64_t>{1000, 1024, 5000, 5024, 9000, 0xC0000000}));
  EXPECT_EQ(h.info.width, 4);
  EXPECT_EQ(h.info.height, 2);
  EXPECT_NE(h.out.find("Width = 4\nHeight = 2\n"), std::string::npos);
  EXPECT_TRUE(
      h.out.ends_with("Number of entries = 2\nSample offset table found\n"
                      "Number of entries = 4\n6 frames indexed\n"));
}

TEST(MovieHeader, EmptyTablesIndexNoFrames) {
  BareHeader bare;
  bare.chunks = {};
  Header h = read(bare.bytes());
  EXPECT_EQ(h.result, 1);
  EXPECT_TRUE(h.out.ends_with("Number of entries = 0\n0 frames indexed\n"));
  bare.chunks = {1000};
  bare.runs = {};
  h = read(bare.bytes());
  EXPECT_EQ(h.result, 1);
  EXPECT_TRUE(h.out.ends_with("0 frames indexed\n"));
  // Frames without pixels are refused, whatever the tables hold.
  for (const std::uint32_t width : {0u, 320u << 16}) {
    bare = {};
    bare.width = width;
    bare.height = width == 0 ? 240 << 16 : 0;
    h = read(bare.bytes());
    EXPECT_EQ(h.result, 0);
    EXPECT_TRUE(h.out.ends_with(width == 0 ? "Number of entries = 2\nFrames of 0 x 240 pixels hold no picture\n"
                                           : "Number of entries = 2\nFrames of 320 x 0 pixels hold no picture\n"))
        << h.out;
    EXPECT_TRUE(h.offsets.empty());
  }
}

// The declared sample size tells padded rows from packed ones: 3 x 2 pixels
// take rows of 9 bytes, 10 padded to 2, 12 padded to 4. The chain of the
// other atoms is undisturbed: the lines are those of a packed movie.
TEST(MovieHeader, DeclaredSampleSizeGivesThePaddedRows) {
  const std::vector<std::string> after{"mvhd", "tkhd", "mdhd", "stsd", "stts", "stsc", "stsz", "stco"};
  const std::vector<std::string> before{"mvhd", "tkhd", "mdhd", "stsz", "stsd", "stts", "stsc", "stco"};
  const struct {
    std::uint32_t sample_size;
    std::vector<std::uint32_t> sizes;
    const std::vector<std::string>& order;
    std::uint32_t row;
  } cases[] = {{20, {}, after, 10}, {24, {}, after, 12}, {0, {24, 18}, after, 12},  // the table's first entry
               {18, {}, after, 9},  {22, {}, after, 9},  {21, {}, after, 9},        // packed, 11-byte rows, cut rows
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
    EXPECT_EQ(h.offsets, (std::vector<std::int64_t>{1000, 1000 + f, 2000, 2000 + f}));
  }
}

// 64-bit chunk offsets print what 32-bit ones print; where both follow
// "stsc" the nearer is the track's; neither gives the message for "stco".
TEST(MovieHeader, SixtyFourBitChunkOffsets) {
  BareHeader bare;
  bare.chunks = {0x123456789ull, 1000};
  const Header narrow = read(bare.bytes());
  bare.order.back() = "co64";
  const Header h = read(bare.bytes());
  EXPECT_EQ(h.out, narrow.out);
  EXPECT_EQ(h.offsets, (std::vector<std::int64_t>{0x123456789, 1000}));
  bare.order.push_back("stco");
  EXPECT_EQ(read(bare.bytes()).offsets, (std::vector<std::int64_t>{0x123456789, 1000}));
  bare.order[6] = "stco";
  bare.order[7] = "co64";
  EXPECT_EQ(read(bare.bytes()).offsets, (std::vector<std::int64_t>{0x23456789, 1000}));
  bare.order.resize(6);
  EXPECT_TRUE(read(bare.bytes()).out.ends_with("Unable to find tag \"stco\"\n"));
}

TEST(MovieHeader, DataFormats) {
  BareHeader bare;
  bare.format = "WRLE";
  Header h = read(bare.bytes());
  EXPECT_EQ(h.result, 1);
  EXPECT_EQ(std::string(h.info.data_format, 4), "WRLE");
  EXPECT_NE(h.out.find("Data format = \"WRLE\"\nSample to time table found\n"), std::string::npos);
  bare.format = "jpeg";
  h = read(bare.bytes());
  EXPECT_EQ(h.result, 0);
  EXPECT_TRUE(
      h.out.ends_with("Sample description found, number of entries = 1\nData format = \"jpeg\"\n"
                      "Unsupported data format, please select \"BMP\" or \"none\" as the video compression when "
                      "saving a .mov file\n"));
}

TEST(MovieHeader, HeaderBehindTheWindowIsNotFound) {
  Bytes bytes(5000, 0);
  const Bytes moov = writer_moov({});
  bytes.insert(bytes.end(), moov.begin(), moov.end());
  EXPECT_EQ(read(bytes, 5000).out, "Unable to find tag \"mvhd\"\n");
  // The tag lies at 5012: all four of its bytes must be inside the window.
  EXPECT_EQ(read(bytes, 5015).out, "Unable to find tag \"mvhd\"\n");
  EXPECT_EQ(read(bytes, 5016).out, "Movie header found\nUnable to find tag \"tkhd\"\n");
  EXPECT_EQ(read(bytes).result, 1);
}

TEST(MovieHeader, TablesRunningPastTheWindowAreRefused) {
  BareHeader bare;
  bare.run_count = 1000;
  Header h = read(bare.bytes(), mov_header_window);
  EXPECT_EQ(h.result, 1);  // the window holds them: zeros
  h = read(bare.bytes());
  EXPECT_EQ(h.result, 0);
  EXPECT_TRUE(h.out.ends_with("Number of entries = 1000\nSample table runs past the header window\n"));
  bare.run_count = 0xFFFFFFFF - 1;
  h = read(bare.bytes(), mov_header_window);
  EXPECT_TRUE(h.out.ends_with("Number of entries = -2\nSample table runs past the header window\n"));

  // The chunk table is last: it fits the window exactly, or not at all.
  bare = {};
  const Bytes exact = bare.bytes();
  EXPECT_EQ(read(exact).result, 1);
  h = read(exact, static_cast<int>(exact.size()) - 1);
  EXPECT_EQ(h.result, 0);
  EXPECT_TRUE(h.out.ends_with("Number of entries = 2\nSample table runs past the header window\n"));
}

TEST(MovieHeader, FieldsBehindTheWindowReadAsZero) {
  BareHeader bare;
  bare.order = {"mvhd"};
  Bytes bytes = bare.bytes();
  const std::size_t tkhd = bytes.size();
  bytes.insert(bytes.end(), {0, 0, 0, 92, 't', 'k', 'h', 'd'});
  bytes.resize(bytes.size() + 100, 0xFF);
  const Header h = read(bytes, static_cast<int>(tkhd + 20));
  EXPECT_EQ(h.out,
            "Movie header found\nTrack header found\nWidth = 0\nHeight = 0\n"
            "Unable to find tag \"mdhd\"\n");
}

TEST(MovieHeader, FramesTooLargeForAnAviAreRefused) {
  BareHeader bare;
  bare.width = 0xFFFF0000;
  bare.height = 0xFFFF0000;
  Header h = read(bare.bytes());
  EXPECT_EQ(h.result, 0);
  EXPECT_TRUE(
      h.out.ends_with("Frames of 65535 x 65535 pixels take 12884508675 bytes, more than the "
                      "2147483647 an AVI frame can hold\n"));
  // 26755 x 26755 x 3 = 2147490075: just over; 26754 lines of 26755 fit.
  bare.width = 26755u << 16;
  bare.height = 26755u << 16;
  EXPECT_EQ(read(bare.bytes()).result, 0);
  bare.height = 26754u << 16;
  EXPECT_EQ(read(bare.bytes()).result, 1);
}

// Movies from the sample writer, read from their files like the program does:
// the window's tail past the file is zero.
TEST(MovieHeader, WrittenMoviesRoundTrip) {
  using movgen::DataFormat;
  const movgen::MovieOptions cases[] = {
      {.width = 1, .height = 1, .frames = 1},
      {.width = 3,
       .height = 5,
       .frames = 7,
       .format = DataFormat::wrle,
       .chunking = {{1, 2}, {3, 1}},
       .moov_last = true},
      {.width = 33, .height = 17, .frames = 12, .chunking = {{1, 5}}, .chunk_gap = 13},
      {.width = 64, .height = 48, .frames = 9, .chunking = {{1, 1}, {2, 0}, {4, 3}}, .moov_last = true, .chunk_gap = 1},
      {.width = 17, .height = 3, .frames = 0, .format = DataFormat::wrle},
  };
  testsupport::TempDir dir;
  for (movgen::MovieOptions o : cases) {
    o.time_scale = 2997;
    o.sample_duration = 100;
    const movgen::FrameSource source(o.width, o.height, {movgen::Content::noise});
    movgen::MovieLayout layout;
    std::string error;
    const auto path = dir / "m.mov";
    ASSERT_TRUE(movgen::write_movie(path.string(), o, source, error, &layout)) << error;
    const Header h = read(testsupport::read_file(path), mov_header_window);
    SCOPED_TRACE(std::to_string(o.width) + "x" + std::to_string(o.height));
    EXPECT_EQ(h.result, 1) << h.out;
    EXPECT_EQ(h.info.width, o.width);
    EXPECT_EQ(h.info.height, o.height);
    EXPECT_EQ(h.info.time_scale, 2997);
    EXPECT_EQ(h.info.sample_duration, 100);
    EXPECT_EQ(std::string(h.info.data_format, 4), o.format == DataFormat::raw ? "raw " : "WRLE");
    const std::vector<std::int64_t> expected(layout.frame_offsets.begin(), layout.frame_offsets.end());
    EXPECT_EQ(h.offsets, expected);
    if (o.frames > 0) {
      EXPECT_NE(h.out.find("Frame rate = 29.970000\n"), std::string::npos);
    }
  }
}

}  // namespace

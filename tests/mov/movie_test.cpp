// The movie header reader and the frame offsets it builds, on hand-built
// headers that bend every rule the reader has: the end of its printed lines,
// its fields and offsets. The sample movie writer, its frames and the mkmovie
// tool: movies read back by our header reader and by GStreamer.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "mov/atom_builder.h"
#include "mov/atom_search.h"
#include "mov/movie_header.h"
#include "mov/movie_writer.h"
#include "mov/ppm_image.h"
#include "mov/sample_tables.h"
#include "mov/synthetic_frames.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Offsets = std::vector<std::int64_t>;
using movgen::Content;
using movgen::DataFormat;
using movgen::FrameSource;
using movgen::MovieOptions;

// The words of `text` between spaces.
std::vector<std::string> split(const std::string& text) {
  std::istringstream words(text);
  return std::vector<std::string>(std::istream_iterator<std::string>(words), {});
}

// Just the atoms and fields the reader takes, in `order` (tags between
// spaces); an entry longer than a tag is written as raw bytes.
struct BareHeader {
  std::uint32_t width = 320 << 16;  // 16.16
  std::uint32_t height = 240 << 16;
  std::vector<sample_to_chunk> runs{{1, 1, 1}};
  std::uint32_t run_count = 0;  // 0: the number of runs
  std::vector<std::uint64_t> chunks{1000, 2000};
  std::uint32_t sample_size = 0;  // of "stsz", where `order` has it
  std::vector<std::uint32_t> sizes{};
  std::string order = "mvhd tkhd mdhd stsd stts stsc stco";

  Bytes bytes() const {
    movgen::AtomBuilder a;
    for (const std::string& tag : split(order)) {
      if (tag == "mvhd") a.begin_full("mvhd").zeros(96).end();
      if (tag == "tkhd") a.begin_full("tkhd").zeros(72).u32(width).u32(height).end();
      if (tag == "mdhd") a.begin_full("mdhd").u32(0).u32(0).u32(600).u32(0).u32(0).end();
      if (tag == "stsd") a.begin_full("stsd").u32(1).begin("raw ").zeros(78).end().end();
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

// Chunks at 0x123456789 and 1000, in the offset tables `tables`.
BareHeader wide(const std::string& tables) {
  return {.chunks = {0x123456789ull, 1000}, .order = "mvhd tkhd mdhd stsd stts stsc " + tables};
}

// 3 x 2 pixels, two frames a chunk, with a declared sample size: rows of 9
// bytes, or of 10 or 12 where that is a whole number of rows padded to 2 or 4.
BareHeader padded(std::uint32_t sample_size, std::vector<std::uint32_t> sizes = {},
                  const char* order = "mvhd tkhd mdhd stsd stts stsc stsz stco") {
  BareHeader b{.width = 3 << 16, .height = 2 << 16, .runs = {{1, 2, 1}}, .sample_size = sample_size};
  b.sizes = std::move(sizes), b.order = order;
  return b;
}
Offsets rows_of(std::int64_t row) { return {1000, 1000 + 2 * row, 2000, 2000 + 2 * row}; }

// Each case gives the header, the window (0: all its bytes; below 0: that many
// fewer; else that many, the bytes past the header zero), the result, the end
// of the output, and the offsets when the read succeeds.
TEST(MovieHeader, HandBuiltHeaders) {
  const std::string past = "Sample table runs past the header window\n";
  const auto missing = [](const char* tag) { return "Unable to find tag \"" + std::string(tag) + "\"\n"; };
  const std::string lines =
      "Movie header found\nTrack header found\nWidth = 320\nHeight = 240\nMedia header found\n"
      "Sample description found, number of entries = 1\nData format = \"raw \"\nSample to time table found\n"
      "Frame rate = 30.000000\nSample to chunk table found\nNumber of entries = 1\nSample offset table found\n"
      "Number of entries = 2\n2 frames indexed\n";
  // The lines before `line`, then the tag that is missing.
  const auto upto = [&](const char* line, const char* tag) { return lines.substr(0, lines.find(line)) + missing(tag); };
  // 4 x 2 pixels, the fixed-point sizes cut to their integer part (frames of
  // 24 bytes), the second chunk past 2 GiB.
  const BareHeader cut{.width = 0x00048000, .height = 0x0002FFFF, .runs = {{1, 2, 1}}, .chunks = {1000, 0xC0000000}};
  // A track header whose fields lie past the window; the bytes there are no zeros.
  const std::string cut_tkhd = "mvhd " + std::string("\0\0\0\x5Ctkhd", 8) + std::string(100, '\xFF');
  const std::string too_large =
      "Frames of 26755 x 26755 pixels take 2147490075 bytes, more than the 2147483647 an AVI frame can hold\n";
  const struct {
    const char* name;
    BareHeader bare;
    int window;
    bool ok;
    std::string ending;
    Offsets offsets = {};
  } cases[] = {
      {"plain", {}, 0, true, lines, {1000, 2000}},
      {"out of order", {.order = "mvhd tkhd mdhd stsd stsc stts stco"}, 0, false, upto("Sample to chunk", "stsc")},
      {"fixed-point sizes", cut, 0, true, "4 frames indexed\n", {1000, 1024, 0xC0000000, 0xC0000018}},
      {"no runs", {.runs = {}}, 0, true, "0 frames indexed\n"},
      {"no height", {.height = 0}, 0, false, "= 2\nFrames of 320 x 0 pixels hold no picture\n"},
      {"co64", wide("co64"), 0, true, "Number of entries = 2\n2 frames indexed\n", {0x123456789, 1000}},
      {"co64 nearer", wide("co64 stco"), 0, true, "", {0x123456789, 1000}},
      {"stco nearer", wide("stco co64"), 0, true, "", {0x23456789, 1000}},
      {"no stco", {.order = "mvhd tkhd mdhd stsd stts stsc"}, 0, false, upto("Sample offset", "stco")},
      {"chunk table one byte short", {}, -1, false, "= 2\n" + past},
      {"runs in window", {.run_count = 1000}, mov_header_window, true, "frames indexed\n"},
      {"runs past", {.run_count = 1000}, 0, false, "Number of entries = 1000\n" + past},
      {"runs negative", {.run_count = 0xFFFFFFFE}, mov_header_window, false, "= -2\n" + past},
      {"fields past the window", {.order = cut_tkhd}, 108 + 20, false, "Width = 0\nHeight = 0\n" + missing("mdhd")},
      // 26755 x 26755 x 3 = 2147490075: just over; 26754 lines fit.
      {"just over", {.width = 26755u << 16, .height = 26755u << 16}, 0, false, too_large},
      {"just fits", {.width = 26755u << 16, .height = 26754u << 16}, 0, true, "indexed\n"},
      // The declared sample size tells padded rows from packed ones.
      {"rows of 10", padded(20), 0, true, "Number of entries = 2\n4 frames indexed\n", rows_of(10)},
      {"rows of 12", padded(24), 0, true, "", rows_of(12)},
      {"rows of 12 from the table", padded(0, {24, 18}), 0, true, "", rows_of(12)},
      {"rows of 11", padded(22), 0, true, "", rows_of(9)},
      {"not whole rows", padded(21), 0, true, "", rows_of(9)},
      {"less than packed", padded(16), 0, true, "", rows_of(9)},
      {"sizes first", padded(24, {}, "mvhd tkhd mdhd stsz stsd stts stsc stco"), 0, true, "", rows_of(9)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = c.bare.bytes();
    const int window = c.window > 0 ? c.window : static_cast<int>(bytes.size()) + c.window;
    if (static_cast<std::size_t>(window) > bytes.size()) bytes.resize(static_cast<std::size_t>(window));
    std::string out;
    const MovieHeader h =
        read_mov_header(bytes.data(), window, [&out](std::string_view line) { (out += line) += '\n'; });
    EXPECT_EQ(h.ok(), c.ok);
    EXPECT_TRUE((out + h.error + (c.ok ? "" : "\n")).ends_with(c.ending)) << out << h.error;
    EXPECT_EQ(h.total_frames, static_cast<int>(h.frame_offsets.size()));
    EXPECT_EQ(h.frame_offsets, c.offsets.empty() && c.ok ? h.frame_offsets : c.offsets);
  }
}

// Bytes past the window count as zero: a tag ending on the window's last
// byte is found, one that needs bytes behind it is not, whatever they hold,
// unless it ends in zeros. The position moves to the tag, the window shrinks.
TEST(FindTag, FindsTheFirstOccurrenceWithinTheWindow) {
  // Where the tag was found, -1 where it was not (the position unmoved).
  const auto find = [](std::string text, const char* tag, int window) {
    auto* position = reinterpret_cast<unsigned char*>(text.data());
    const int before = window;
    const bool found = findtag(position, tag, window);
    const auto moved = static_cast<int>(reinterpret_cast<char*>(position) - text.data());
    EXPECT_EQ(window, before - moved) << text;
    return found ? moved : -1 - moved;
  };
  EXPECT_EQ(find("....mvhd....mvhd....", "mvhd", 20), 4);
  EXPECT_EQ(find("stsd....", "stsd", 8), 0);
  EXPECT_EQ(find("stsc....stcxstc", "stco", 15), -1);
  EXPECT_EQ(find("mvhd", "mvhd", -1), -1);
  EXPECT_EQ(find("xxxxstco", "stco", 8), 4);
  EXPECT_EQ(find("xxxxstco", "stco", 7), -1);
  EXPECT_EQ(find(std::string("ab\0\0", 4), "b\0\0\0", 2), 1);
}

// The offsets hold the claimed frames that the file holds, up to the first it
// does not and at most as many as fit side by side plus one a chunk;
// total_frames keeps the claim. Every run claims chunk 1, yet chunk j can
// only reach run j + 1.
TEST(FrameOffsets, RunsChunksAndTheFileSize) {
  constexpr std::int64_t kHigh = 0xC0000000;
  const std::string too_many =
      "Too many frames: the sample tables describe 2147483648, at most 2147483647 can be indexed";
  const struct {
    std::vector<sample_to_chunk> runs;
    std::vector<std::uint64_t> chunks;
    std::uint64_t frame_size, file_size;
    Offsets offsets;
    int claimed;
    std::string error = {};
  } cases[] = {
      {{{1, 1, 1}, {2, 0, 1}, {3, 2, 1}}, {10, 20, 30}, 5, INT64_MAX, {10, 30, 35}, 3},
      {{{1, 1, 1}, {1, 2, 1}, {1, 3, 1}}, {0, 100, 200}, 1, INT64_MAX, {0, 1, 100, 101, 102, 200, 201, 202}, 8},
      {{{1, 3, 1}}, {kHigh}, INT_MAX, INT64_MAX, {kHigh, kHigh + INT_MAX, kHigh + 2LL * INT_MAX}, 3},
      {{{1, 3, 1}}, {100, 0}, 100, 350, {100, 200}, 6},
      {{{1, 3, 1}}, {100, 0}, 100, 400, {100, 200, 300, 0, 100, 200}, 6},
      {{{1, 0x7FFFFFFF, 1}}, {0}, 100, 250, {0, 100}, 0x7FFFFFFF},
      {{{1, 2, 1}}, {0xFFFFFFFFFFFFFF00ull}, 100, 1000, {}, 2},
      {{{1, 1, 1}}, {0, 0, 0, 0, 0}, 100, 100, {0, 0, 0, 0, 0}, 5},
      {{{1, 5, 1}}, {0, 0, 0, 0}, 100, 1000, {0, 100, 200, 300, 400, 0, 100, 200, 300, 400, 0, 100, 200, 300}, 20},
      {{{1, 0x80000000u, 1}}, {0}, 3, INT64_MAX, {}, 0, too_many},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.chunks.size() << " chunks, file of " << c.file_size);
    MovieHeader h;
    EXPECT_EQ(calc_frame_offsets(c.runs, c.chunks, c.frame_size, h, INT_MAX, c.file_size), c.error.empty());
    EXPECT_EQ(h.frame_offsets, c.offsets);
    EXPECT_EQ(h.total_frames, c.claimed);
    EXPECT_EQ(h.error, c.error);
  }
}

// Written movies read back: our reader finds the fields and the planned
// offsets (the window's tail past the file is zero), and GStreamer's demuxer
// hands out the frames as stored, rows padded, whatever the chunking (short
// last chunks, empty chunks, gaps between them).
TEST(MovieWriter, WrittenMoviesReadBack) {
  constexpr DataFormat wrle = DataFormat::wrle;
  const MovieOptions cases[] = {
      {.width = 1, .height = 1, .frames = 7, .chunking = {{1, 3}}},
      {.width = 33, .height = 17, .frames = 7, .chunking = {{1, 2}, {3, 1}}, .moov_last = true, .chunk_gap = 13},
      {.width = 21, .height = 9, .frames = 7, .chunking = {{1, 1}, {2, 0}, {4, 3}}, .row_align = 2, .co64 = true},
      {.width = 5, .height = 3, .frames = 7, .format = wrle, .moov_last = true, .row_align = 4, .co64 = true},
      {.width = 17, .height = 3, .frames = 0, .format = wrle},
  };
  const bool gst = testsupport::need_program("gst-launch-1.0");
  testsupport::TempDir dir;
  const std::string path = (dir / "m.mov").string();
  for (MovieOptions o : cases) {
    SCOPED_TRACE(std::to_string(o.width) + "x" + std::to_string(o.height));
    o.time_scale = 2997, o.sample_duration = 100;
    const FrameSource source(o.width, o.height, {Content::noise});
    movgen::MovieLayout layout;
    std::string error;
    ASSERT_TRUE(movgen::write_movie(path, o, source, error, &layout)) << error;
    Bytes file = testsupport::read_file(path);
    ASSERT_EQ(file.size(), layout.file_size);
    file.resize(mov_header_window);
    const MovieHeader h = read_mov_header(file.data(), mov_header_window, [](std::string_view) {});
    ASSERT_TRUE(h.ok()) << h.error;
    EXPECT_EQ(std::tuple(h.info.width, h.info.height, h.info.time_scale, h.info.sample_duration),
              std::tuple(o.width, o.height, 2997, 100));
    EXPECT_EQ(h.frame_offsets, std::vector<std::int64_t>(layout.frame_offsets.begin(), layout.frame_offsets.end()));
    if (!gst || o.frames == 0) continue;
    const std::vector<Bytes> frames = testsupport::demux(path, "qtdemux");
    ASSERT_EQ(frames.size(), 7u);
    const std::size_t row = (3 * static_cast<std::size_t>(o.width) + o.row_align - 1) / o.row_align * o.row_align;
    for (std::uint32_t i = 0; i < 7; ++i) EXPECT_EQ(frames[i], movgen::stored_frame(source, o.format, i, row)) << i;
  }
}

// The forms a frame is stored in, which the conversion tests expect. (Those
// tests draw every content but the tiled image; crvtdec's check that noise
// changes every frame.)
TEST(SyntheticFrames, StoredAndAviForms) {
  // P Q on top, U V below, each R G B.
  const Bytes rgb{1, 2, 3, 4, 5, 6, 11, 12, 13, 14, 15, 16};
  Bytes avi(12), stored(12);
  movgen::to_avi(2, 2, rgb, avi);
  EXPECT_EQ(avi, (Bytes{13, 12, 11, 16, 15, 14, 3, 2, 1, 6, 5, 4}));
  movgen::to_stored(DataFormat::wrle, 2, 2, rgb, stored);
  EXPECT_EQ(stored, avi);
}

TEST(PpmImage, ParsesBinaryImagesOnly) {
  // The pixels, nothing where the image is refused.
  const auto parse = [](const std::string& text) {
    movgen::PpmImage img;
    std::string error;
    return movgen::parse_ppm(Bytes(text.begin(), text.end()), img, error) ? std::optional(img.rgb) : std::nullopt;
  };
  EXPECT_EQ(parse("P6\n# made by hand\n2 1 # size\n255\n\x01\x02\x03\x04\x05\x06"), (Bytes{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(parse(std::string("P6 1 1 65535 \xFF\xFF\x80\x00\x00\x00", 19)), (Bytes{255, 128, 0}));  // scaled to 8 bits
  EXPECT_EQ(parse(std::string("P6 1 1 1\n\x01\x00\x01", 12)), (Bytes{255, 0, 255}));
  EXPECT_EQ(parse("P3\n1 1\n255\n1 2 3"), std::nullopt);
  EXPECT_EQ(parse("P6\n2 2\n255\n\x01\x02\x03"), std::nullopt);
  EXPECT_EQ(parse("P6\n2"), std::nullopt);
}

// mkmovie with `args`, split at spaces.
testsupport::RunResult mkmovie(const std::string& args) {
  std::vector<std::string> argv = split(args);
  argv.insert(argv.begin(), MKMOVIE_EXE);
  return testsupport::run(argv);
}

// Refusals, one row per reason; every option as the library takes it; a PPM
// image; and GStreamer's view of the header's fields.
TEST(Mkmovie, CommandLines) {
  testsupport::TempDir dir;
  const std::string out = (dir / "m.mov").string();
  const std::pair<std::string, std::string> bad[] = {
      {"", "no output file given (see --help)"},
      {"--sise 2x2 " + out, "unknown option --sise (see --help)"},
      {"--chunking 1:x " + out, "bad value for --chunking: 1:x"},
      {"--chunking 2:1 " + out, "the chunking must start with a run from chunk 1"},
      {"--chunking 1:1,2:0 " + out, "the last run of the chunking must hold frames"},
      {out + " --frames", "--frames needs a value"},
  };
  for (const auto& [args, message] : bad) {
    const auto r = mkmovie(args);
    EXPECT_EQ(r.exit_code, 1) << message;
    EXPECT_EQ(r.err, "mkmovie: " + message + "\n");
  }
  EXPECT_FALSE(std::filesystem::exists(out));

  const std::string every =
      "--size 33x17 --frames 5 --format wrle --content noise --seed 7 --chunking 1:2,3:1 "
      "--time-scale 2500 --duration 100 --gap 3 --moov-last --row-align 4 --co64 ";
  auto r = mkmovie(every + out);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("5 frames of 33x17, \"WRLE\", noise content, 3 chunks (co64)"), std::string::npos) << r.out;
  MovieOptions o{.width = 33, .height = 17, .frames = 5, .format = DataFormat::wrle, .chunking = {{1, 2}, {3, 1}}};
  o.time_scale = 2500, o.sample_duration = 100, o.moov_last = true, o.chunk_gap = 3, o.row_align = 4, o.co64 = true;
  std::string error;
  ASSERT_TRUE(movgen::write_movie((dir / "a.mov").string(), o, FrameSource(33, 17, {Content::noise, 7}), error));
  EXPECT_EQ(testsupport::read_file(dir / "a.mov"), testsupport::read_file(out));

  testsupport::write_file(dir / "i.ppm", {'P', '6', ' ', '2', ' ', '1', ' ', '2', '5', '5', '\n', 9, 8, 7, 6, 5, 4});
  r = mkmovie("--size 4x1 --frames 1 --ppm " + (dir / "i.ppm").string() + " --quiet " + out);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const Bytes file = testsupport::read_file(out);
  EXPECT_EQ(Bytes(file.end() - 12, file.end()), (Bytes{9, 8, 7, 9, 8, 7, 6, 5, 4, 6, 5, 4}));  // resized

  if (!testsupport::need_program("gst-discoverer-1.0")) GTEST_SKIP();
  ASSERT_EQ(mkmovie("--size 320x240 --frames 30 --chunking 1:2,3:1 --moov-last " + out).exit_code, 0);
  r = testsupport::run({"gst-discoverer-1.0", out});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  for (const char* line : {"container #0: Quicktime", "video #1: Uncompressed 8-bit RGB", "Width: 320", "Height: 240",
                           "Depth: 24", "Frame rate: 30/1", "Duration: 0:00:01.0"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
}

}  // namespace

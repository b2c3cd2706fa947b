// The sample movie writer, its frames and the mkmovie tool: movies read back
// by our header reader and by GStreamer's demuxer.
#include "mov/movie_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mov/movie_header.h"
#include "mov/ppm_image.h"
#include "mov/synthetic_frames.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using movgen::ChunkRun;
using movgen::Content;
using movgen::DataFormat;
using movgen::FrameSource;
using movgen::MovieLayout;
using movgen::MovieOptions;

// The layout of `o`, or the reason it is refused ("" when it is not).
std::string plan(const MovieOptions& o, MovieLayout& layout) {
  std::string error;
  const bool planned = movgen::plan_movie(o, layout, error);
  EXPECT_EQ(planned, error.empty());
  return error;
}

Bytes picture(const FrameSource& s, std::uint32_t index) {
  Bytes rgb(s.frame_size());
  s.render(index, rgb);
  return rgb;
}

TEST(MoviePlan, ChunksOffsetsAndSizes) {
  const struct {
    std::uint32_t frames;
    std::vector<ChunkRun> chunking;
    std::vector<std::uint32_t> chunk_samples;
    std::vector<ChunkRun> stsc;
  } cases[] = {
      {6, {{1, 2}, {3, 1}}, {2, 2, 1, 1}, {{1, 2}, {3, 1}}},
      {10, {{1, 4}}, {4, 4, 2}, {{1, 4}, {3, 2}}},  // a short last chunk has its own run
      {3, {{1, 1}, {2, 0}, {4, 1}}, {1, 0, 0, 1, 1}, {{1, 1}, {2, 0}, {4, 1}}},
  };
  MovieLayout l;
  for (const auto& c : cases) {
    MovieOptions o;
    o.frames = c.frames;
    o.chunking = c.chunking;
    ASSERT_EQ(plan(o, l), "");
    EXPECT_EQ(l.chunk_samples, c.chunk_samples);
    EXPECT_EQ(l.stsc, c.stsc);
  }
  EXPECT_EQ(l.chunk_offsets[1], l.chunk_offsets[3]);  // empty chunks sit where the next one starts
  ASSERT_EQ(plan({.width = 5, .height = 3, .frames = 5, .chunking = {{1, 2}}, .chunk_gap = 7}, l), "");
  const std::uint64_t p = l.chunk_offsets[0];
  EXPECT_EQ(l.frame_offsets, (std::vector<std::uint64_t>{p, p + 45, p + 97, p + 142, p + 194}));
  EXPECT_EQ(l.mdat_offset + 8, p);
  EXPECT_EQ(l.mdat_size, 8 + 5 * 45 + 2 * 7u);

  // 1920 x 1080 x 700 frames: 4.35 GB. Ten frames a chunk keep the chunks
  // below 4 GiB, one a chunk does not.
  MovieOptions o{.width = 1920, .height = 1080, .frames = 700, .chunking = {{1, 10}}};
  ASSERT_EQ(plan(o, l), "");
  EXPECT_TRUE(l.mdat_largesize);
  EXPECT_EQ(l.mdat_size, 16 + 700ull * 6220800);
  EXPECT_LT(l.chunk_offsets.back(), 1ull << 32);
  EXPECT_GT(l.frame_offsets.back(), 1ull << 32);
  EXPECT_EQ(l.file_size, 20 + l.moov_size + l.mdat_size);
  EXPECT_FALSE(l.co64);
  o.chunking = {{1, 1}};
  ASSERT_EQ(plan(o, l), "");
  EXPECT_TRUE(l.co64);
  EXPECT_EQ(l.chunk_offsets.back(), l.frame_offsets.back());
  o.frames = 600;
  ASSERT_EQ(plan(o, l), "");
  EXPECT_FALSE(l.mdat_largesize);

  EXPECT_EQ(plan({.chunking = {{2, 1}}}, l), "the chunking must start with a run from chunk 1");
  EXPECT_EQ(plan({.chunking = {{1, 1}, {3, 2}, {3, 1}}}, l), "the chunking's runs must start at increasing chunks");
  EXPECT_EQ(plan({.chunking = {{1, 1}, {2, 0}}}, l), "the last run of the chunking must hold frames");
  EXPECT_NE(plan({.width = 65536}, l), "");
  EXPECT_EQ(plan({.frames = 1000, .sample_duration = 5'000'000}, l), "the movie's duration does not fit 32 bits");
}

// Written movies read back: our reader finds the fields and the planned
// offsets (the window's tail past the file is zero), and GStreamer's demuxer
// hands out the frames as stored, rows padded.
TEST(MovieWriter, WrittenMoviesReadBack) {
  const MovieOptions cases[] = {
      {.width = 1, .height = 1, .frames = 7, .chunking = {{1, 3}}},
      {.width = 33, .height = 17, .frames = 7, .chunking = {{1, 2}, {3, 1}}, .moov_last = true, .chunk_gap = 13},
      {.width = 21, .height = 9, .frames = 7, .format = DataFormat::wrle, .chunking = {{1, 4}}, .moov_last = true},
      {.width = 21, .height = 9, .frames = 7, .chunking = {{1, 1}, {2, 0}, {4, 3}}, .row_align = 2, .co64 = true},
      {.width = 5,
       .height = 3,
       .frames = 7,
       .format = DataFormat::wrle,
       .moov_last = true,
       .row_align = 4,
       .co64 = true},
      {.width = 17, .height = 3, .frames = 0, .format = DataFormat::wrle},
  };
  const bool gst = testsupport::need_program("gst-launch-1.0");
  testsupport::TempDir dir;
  const std::string path = (dir / "m.mov").string();
  for (MovieOptions o : cases) {
    SCOPED_TRACE(std::to_string(o.width) + "x" + std::to_string(o.height));
    o.time_scale = 2997;
    o.sample_duration = 100;
    const FrameSource source(o.width, o.height, {Content::noise});
    MovieLayout layout;
    std::string error;
    ASSERT_TRUE(movgen::write_movie(path, o, source, error, &layout)) << error;
    Bytes file = testsupport::read_file(path);
    ASSERT_EQ(file.size(), layout.file_size);
    for (const auto& [at, tag] : {std::pair{layout.moov_offset, "moov"}, {layout.mdat_offset, "mdat"}})
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file.at(at + 4)), 4), tag);
    file.resize(mov_header_window);
    const MovieHeader h = read_mov_header(file.data(), mov_header_window, [](std::string_view) {});
    ASSERT_TRUE(h.ok()) << h.error;
    EXPECT_EQ(h.info.width, o.width);
    EXPECT_EQ(h.info.height, o.height);
    EXPECT_EQ(h.info.time_scale, 2997);
    EXPECT_EQ(h.info.sample_duration, 100);
    EXPECT_EQ(std::string(h.info.data_format, 4), o.format == DataFormat::raw ? "raw " : "WRLE");
    EXPECT_EQ(h.frame_offsets, std::vector<std::int64_t>(layout.frame_offsets.begin(), layout.frame_offsets.end()));
    if (!gst || o.frames == 0) continue;
    const std::vector<Bytes> frames = testsupport::demux(path, "qtdemux");
    ASSERT_EQ(frames.size(), 7u);
    const std::size_t row = (3 * static_cast<std::size_t>(o.width) + o.row_align - 1) / o.row_align * o.row_align;
    for (std::uint32_t i = 0; i < 7; ++i) EXPECT_EQ(frames[i], movgen::stored_frame(source, o.format, i, row)) << i;
  }
}

TEST(MovieWriter, RefusesFramesOutOfPlan) {
  testsupport::TempDir dir;
  MovieOptions o{.width = 2, .height = 2, .frames = 2};
  movgen::MovieWriter w;
  std::string error;
  ASSERT_TRUE(w.open((dir / "m.mov").string(), o, error)) << error;
  const Bytes frame(12, 1);
  EXPECT_FALSE(w.write_frame(Bytes(11), error));
  EXPECT_EQ(error, "a frame of 11 bytes where 12 are due");
  ASSERT_TRUE(w.write_frame(frame, error));
  EXPECT_FALSE(w.finish(error));
  EXPECT_EQ(error, "1 of 2 frames written");
  ASSERT_TRUE(w.write_frame(frame, error));
  EXPECT_FALSE(w.write_frame(frame, error));
  EXPECT_TRUE(w.finish(error)) << error;
  EXPECT_FALSE(movgen::MovieWriter().open((dir / "no" / "m.mov").string(), o, error));
}

TEST(SyntheticFrames, FormsContentsAndImages) {
  // P Q on top, U V below, each R G B.
  const Bytes rgb{1, 2, 3, 4, 5, 6, 11, 12, 13, 14, 15, 16};
  Bytes avi(12), stored(12);
  movgen::to_avi(2, 2, rgb, avi);
  EXPECT_EQ(avi, (Bytes{13, 12, 11, 16, 15, 14, 3, 2, 1, 6, 5, 4}));
  movgen::to_stored(DataFormat::wrle, 2, 2, rgb, stored);
  EXPECT_EQ(stored, avi);
  movgen::to_stored(DataFormat::raw, 2, 2, rgb, stored);
  EXPECT_EQ(stored, rgb);

  const movgen::PpmImage image{2, 1, {255, 0, 0, 0, 0, 255}};  // red, blue
  for (const char* name : {"gradient-h", "gradient-v", "noise", "solid", "grey", "shape", "screen", "ppm"}) {
    Content c{};
    ASSERT_TRUE(movgen::parse_content(name, c)) << name;
    EXPECT_STREQ(movgen::content_name(c), name);
    for (auto [w, h] : {std::pair{1, 1}, {3, 1}, {0, 5}, {33, 17}})
      EXPECT_EQ(picture(FrameSource(w, h, {c, 9}, image), 3), picture(FrameSource(w, h, {c, 9}, image), 3)) << name;
    const FrameSource s(64, 48, {c});
    EXPECT_EQ(picture(s, 0) != picture(s, 1), c != Content::solid && c != Content::image) << name;
  }
  Content c{};
  EXPECT_FALSE(movgen::parse_content("plaid", c));
  EXPECT_NE(picture(FrameSource(8, 8, {Content::noise, 1}), 0), picture(FrameSource(8, 8, {Content::noise, 2}), 0));
  EXPECT_EQ(picture(FrameSource(2, 1, {Content::solid, 1, {10, 20, 30}}), 1), (Bytes{10, 20, 30, 10, 20, 30}));
  EXPECT_EQ(picture(FrameSource(4, 2, {Content::image, 1, {}, movgen::Fit::resize}, image), 0),
            (Bytes{255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255, 255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255}));
  const FrameSource tiled(3, 1, {Content::image, 1, {}, movgen::Fit::tile}, image);
  EXPECT_EQ(picture(tiled, 0), (Bytes{255, 0, 0, 0, 0, 255, 255, 0, 0}));
  EXPECT_EQ(picture(tiled, 1), (Bytes{0, 0, 255, 255, 0, 0, 0, 0, 255}));  // panned
}

TEST(PpmImage, ParsesBinaryImagesOnly) {
  const struct {
    std::string text;
    Bytes rgb;  // empty: refused
  } cases[] = {
      {"P6\n# made by hand\n2 1 # size\n255\n\x01\x02\x03\x04\x05\x06", {1, 2, 3, 4, 5, 6}},
      {std::string("P6 1 1 65535 \xFF\xFF\x80\x00\x00\x00", 19), {255, 128, 0}},  // scaled to 8 bits
      {std::string("P6 1 1 1\n\x01\x00\x01", 12), {255, 0, 255}},
      {"P3\n1 1\n255\n1 2 3", {}},
      {"P6\n2 2\n255\n\x01\x02\x03", {}},
      {"P6\n2", {}},
  };
  for (const auto& c : cases) {
    movgen::PpmImage img;
    std::string error;
    EXPECT_EQ(movgen::parse_ppm(Bytes(c.text.begin(), c.text.end()), img, error), !c.rgb.empty()) << c.text;
    EXPECT_EQ(img.rgb, c.rgb.empty() ? img.rgb : c.rgb);
  }
}

TEST(Mkmovie, CommandLines) {
  testsupport::TempDir dir;
  const std::string out = (dir / "m.mov").string();
  const std::pair<std::vector<std::string>, std::string> bad[] = {
      {{}, "mkmovie: no output file given (see --help)\n"},
      {{"--sise", "2x2", out}, "mkmovie: unknown option --sise (see --help)\n"},
      {{"--chunking", "1:x", out}, "mkmovie: bad value for --chunking: 1:x\n"},
      {{"--chunking", "2:1", out}, "mkmovie: the chunking must start with a run from chunk 1\n"},
      {{"--row-align", "3", out}, "mkmovie: bad value for --row-align: 3\n"},
      {{out, "--frames"}, "mkmovie: --frames needs a value\n"},
  };
  for (const auto& [args, message] : bad) {
    std::vector<std::string> argv{MKMOVIE_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto r = testsupport::run(argv);
    EXPECT_EQ(r.exit_code, 1) << message;
    EXPECT_EQ(r.err, message);
  }
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_TRUE(testsupport::run({MKMOVIE_EXE, "--help"}).out.starts_with("Usage: mkmovie [options] <out.mov>\n"));

  // Every option, as the library takes them.
  auto r =
      testsupport::run({MKMOVIE_EXE, "--size",       "33x17",       "--frames",   "5",      "--format",
                        "wrle",      "--content",    "noise",       "--seed",     "7",      "--chunking",
                        "1:2,3:1",   "--time-scale", "2500",        "--duration", "100",    "--gap",
                        "3",         "--moov-last",  "--row-align", "4",          "--co64", (dir / "a.mov").string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("5 frames of 33x17, \"WRLE\", noise content, 3 chunks (co64)"), std::string::npos) << r.out;
  MovieOptions o{.width = 33,
                 .height = 17,
                 .frames = 5,
                 .format = DataFormat::wrle,
                 .chunking = {{1, 2}, {3, 1}},
                 .time_scale = 2500,
                 .sample_duration = 100,
                 .moov_last = true,
                 .chunk_gap = 3,
                 .row_align = 4,
                 .co64 = true};
  std::string error;
  ASSERT_TRUE(movgen::write_movie(out, o, FrameSource(33, 17, {Content::noise, 7}), error)) << error;
  EXPECT_EQ(testsupport::read_file(dir / "a.mov"), testsupport::read_file(out));

  testsupport::write_file(dir / "i.ppm", {'P', '6', ' ', '2', ' ', '1', ' ', '2', '5', '5', '\n', 9, 8, 7, 6, 5, 4});
  r = testsupport::run(
      {MKMOVIE_EXE, "--size", "4x1", "--frames", "1", "--ppm", (dir / "i.ppm").string(), "--quiet", out});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const Bytes file = testsupport::read_file(out);
  EXPECT_EQ(Bytes(file.end() - 12, file.end()), (Bytes{9, 8, 7, 9, 8, 7, 6, 5, 4, 6, 5, 4}));

  // GStreamer's view of the header's fields.
  if (!testsupport::need_program("gst-discoverer-1.0")) GTEST_SKIP();
  ASSERT_EQ(testsupport::run(
                {MKMOVIE_EXE, "--size", "320x240", "--frames", "30", "--chunking", "1:2,3:1", "--moov-last", out})
                .exit_code,
            0);
  r = testsupport::run({"gst-discoverer-1.0", out});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  for (const char* line : {"container #0: Quicktime", "video #1: Uncompressed 8-bit RGB", "Width: 320", "Height: 240",
                           "Depth: 24", "Frame rate: 30/1", "Duration: 0:00:01.0"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
}

}  // namespace

// The mkmovie tool, and other demuxers' view of the movies it writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mov/movie_writer.h"
#include "mov/synthetic_frames.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testsupport::run;

TEST(Mkmovie, HelpAndBadCommandLines) {
  auto r = run({MKMOVIE_EXE, "--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.rfind("Usage: mkmovie [options] <out.mov>\n", 0), 0u);
  EXPECT_NE(r.out.find("--chunking RUNS"), std::string::npos);

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
    r = run(argv);
    EXPECT_EQ(r.exit_code, 1) << message;
    EXPECT_EQ(r.err, message);
  }
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(Mkmovie, WritesWhatTheLibraryWrites) {
  testsupport::TempDir dir;
  const auto r = run({MKMOVIE_EXE, "--size",       "33x17",       "--frames",   "5",      "--format",
                      "wrle",      "--content",    "noise",       "--seed",     "7",      "--chunking",
                      "1:2,3:1",   "--time-scale", "2500",        "--duration", "100",    "--gap",
                      "3",         "--moov-last",  "--row-align", "4",          "--co64", (dir / "a.mov").string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("5 frames of 33x17, \"WRLE\", noise content, 3 chunks (co64)"), std::string::npos) << r.out;

  movgen::MovieOptions o{.width = 33,
                         .height = 17,
                         .frames = 5,
                         .format = movgen::DataFormat::wrle,
                         .chunking = {{1, 2}, {3, 1}},
                         .time_scale = 2500,
                         .sample_duration = 100,
                         .moov_last = true,
                         .chunk_gap = 3,
                         .row_align = 4,
                         .co64 = true};
  std::string error;
  ASSERT_TRUE(
      movgen::write_movie((dir / "b.mov").string(), o, movgen::FrameSource(33, 17, {movgen::Content::noise, 7}), error))
      << error;
  EXPECT_EQ(testsupport::read_file(dir / "a.mov"), testsupport::read_file(dir / "b.mov"));
}

TEST(Mkmovie, TakesFramesFromAPpmImage) {
  testsupport::TempDir dir;
  Bytes ppm{'P', '6', ' ', '2', ' ', '1', ' ', '2', '5', '5', '\n', 9, 8, 7, 6, 5, 4};
  testsupport::write_file(dir / "i.ppm", ppm);
  const auto r = run({MKMOVIE_EXE, "--size", "4x1", "--frames", "1", "--ppm", (dir / "i.ppm").string(), "--quiet",
                      (dir / "m.mov").string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const Bytes file = testsupport::read_file(dir / "m.mov");
  EXPECT_EQ(Bytes(file.end() - 12, file.end()), (Bytes{9, 8, 7, 9, 8, 7, 6, 5, 4, 6, 5, 4}));
}

TEST(MkmovieInterop, GstreamerDemuxesTheFramesAsWritten) {
  if (!testsupport::need_program("gst-launch-1.0")) GTEST_SKIP();
  using movgen::DataFormat;
  const movgen::MovieOptions cases[] = {
      {.width = 64, .height = 48, .frames = 7},
      {.width = 33, .height = 17, .frames = 7, .chunking = {{1, 2}, {3, 1}}, .moov_last = true},
      {.width = 1, .height = 1, .frames = 7, .chunking = {{1, 3}}},
      {.width = 21, .height = 9, .frames = 7, .format = DataFormat::wrle, .chunking = {{1, 4}}, .moov_last = true},
      {.width = 21, .height = 9, .frames = 7, .chunking = {{1, 2}}, .row_align = 2, .co64 = true},
      {.width = 5,
       .height = 3,
       .frames = 7,
       .format = DataFormat::wrle,
       .moov_last = true,
       .row_align = 4,
       .co64 = true},
  };
  for (const movgen::MovieOptions& o : cases) {
    SCOPED_TRACE(std::to_string(o.width) + "x" + std::to_string(o.height));
    testsupport::TempDir dir;
    const movgen::FrameSource source(o.width, o.height, {movgen::Content::shape});
    std::string error;
    ASSERT_TRUE(movgen::write_movie((dir / "m.mov").string(), o, source, error)) << error;
    const std::vector<Bytes> frames = testsupport::demux((dir / "m.mov").string(), "qtdemux");
    ASSERT_EQ(frames.size(), 7u);
    const std::size_t row = (3 * static_cast<std::size_t>(o.width) + o.row_align - 1) / o.row_align * o.row_align;
    for (std::uint32_t i = 0; i < 7; ++i) EXPECT_EQ(frames[i], movgen::stored_frame(source, o.format, i, row)) << i;
  }
}

TEST(MkmovieInterop, GstreamerDiscoversTheStream) {
  if (!testsupport::need_program("gst-discoverer-1.0")) GTEST_SKIP();
  testsupport::TempDir dir;
  const auto m = dir / "m.mov";
  ASSERT_EQ(
      run({MKMOVIE_EXE, "--size", "320x240", "--frames", "30", "--chunking", "1:2,3:1", "--moov-last", m.string()})
          .exit_code,
      0);
  const auto r = run({"gst-discoverer-1.0", m.string()});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  for (const char* line : {"container #0: Quicktime", "video #1: Uncompressed 8-bit RGB", "Width: 320", "Height: 240",
                           "Depth: 24", "Frame rate: 30/1", "Duration: 0:00:01.0"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
}

}  // namespace

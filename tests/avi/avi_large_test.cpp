// quelmux on files past the part limit: -u on a 1080p movie of 700 frames
// (4.35 GB in five OpenDML parts), noise compressed past the first part, and
// a run stopped there. Read back by AviReader, crvtdec, GStreamer and
// mediainfo; the tests need about 10 GB of free space.
#include "avi/avi_layout.h"
#include "mov/movie_writer.h"

#include "avi_test_util.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using avitest::Bytes;

constexpr int kWidth = 1920, kHeight = 1080;
constexpr std::uint64_t kFrameSize = std::uint64_t{kWidth} * kHeight * 3;

// Writes the movie, or says why not: too little space, or a failed write.
std::string make_movie(const testsupport::TempDir& dir, std::uint64_t space, const std::string& movie,
                       const movgen::MovieOptions& o, const movgen::FrameSource& source) {
  std::error_code ec;
  if (fs::space(dir.path(), ec).available < space || ec) return "needs " + std::to_string(space) + " bytes free";
  std::string error;
  return movgen::write_movie(movie, o, source, error) ? "" : error;
}

// The file in `parts` parts, each of `frames` through the indexes; mediainfo agrees.
void expect_parts(const std::string& avi, std::size_t parts, std::size_t frames) {
  avi::AviReader reader;
  ASSERT_EQ(reader.open(fs::path(avi)).message, "");
  EXPECT_TRUE(reader.super_index_used());
  EXPECT_EQ(reader.parts(), parts);
  EXPECT_EQ(reader.frames().size(), frames);
  if (testsupport::need_program("mediainfo")) {
    EXPECT_EQ(testsupport::run({"mediainfo", "--Inform=Video;%FrameCount%", avi}).out, std::to_string(frames) + "\n");
  }
}

TEST(LargeConversion, UncompressedPastFourGibibytes) {
  testsupport::TempDir dir;
  const std::string movie = (dir / "big.mov").string(), avi = (dir / "big.avi").string();
  const movgen::FrameSource source(kWidth, kHeight, {movgen::Content::gradient_h});
  const std::string skip = make_movie(
      dir, 10'000'000'000, movie, {.width = kWidth, .height = kHeight, .frames = 700, .chunking = {{1, 10}}}, source);
  if (!skip.empty()) GTEST_SKIP() << skip;
  const auto run = testsupport::run({QUELMUX_EXE, "-u", movie, avi});
  fs::remove(movie);
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_TRUE(run.out.ends_with("Finished writing file " + avi + "\n")) << run.out;
  EXPECT_EQ(fs::file_size(avi),
            avi::layout::plan_parts(700, kFrameSize, AviWriter::kDefaultPartLimit, INT_MAX).file_length);
  expect_parts(avi, 5, 700);
  // The frames at both ends of every part.
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(fs::path(avi)));
  Bytes frame(kFrameSize);
  for (const std::uint32_t i : {0u, 171u, 172u, 343u, 344u, 515u, 516u, 687u, 688u, 699u}) {
    ASSERT_EQ(reader.read_frame(i, frame).message, "");
    EXPECT_EQ(frame, testsupport::avi_frame(source, i)) << "frame " << i;
  }
  if (testsupport::need_program("gst-launch-1.0")) {
    // Every buffer goes through; the last three are kept to compare.
    testsupport::TempDir out;
    const auto r = testsupport::run({"gst-launch-1.0", "-q", "filesrc", "location=" + avi, "!", "avidemux", "!",
                                     "multifilesink", "max-files=3", "location=" + (out / "f%05d.bin").string()});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_FALSE(fs::exists(out / "f00700.bin"));
    for (std::uint32_t i = 697; i < 700; ++i) {
      EXPECT_EQ(testsupport::read_file(out / ("f00" + std::to_string(i) + ".bin")),
                testsupport::flip_rows(testsupport::avi_frame(source, i), kWidth * 3))
          << "frame " << i;
    }
  }
  fs::remove(avi);
}

// Noise does not compress, so 180 frames of it take the compressed file past
// its first part; every frame must still decode to the movie's. SIGINT once a
// file has gone past its first part: the run stops after the frame in
// progress and completes both parts.
#ifdef QUELMUX_CRVTDEC
TEST(LargeConversion, CompressedAndStoppedPastThePartLimit) {
  testsupport::TempDir dir;
  const std::string movie = (dir / "in.mov").string(), avi = (dir / "out.avi").string();
  std::string skip = make_movie(dir, 2'500'000'000, movie, {.width = kWidth, .height = kHeight, .frames = 180},
                                movgen::FrameSource(kWidth, kHeight, {movgen::Content::noise, 3}));
  if (!skip.empty()) GTEST_SKIP() << skip;
  const auto run = testsupport::run({QUELMUX_EXE, movie, avi});
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_TRUE(run.out.ends_with("Finished writing file " + avi + "\n")) << run.out;
  expect_parts(avi, 2, 180);
  EXPECT_EQ(testsupport::run({QUELMUX_CRVTDEC, "--compare", avi, movie}).out, "180 frames identical\n");

  skip = make_movie(dir, 0, movie, {.width = 640, .height = 480, .frames = 1400},  // 1.29 GB
                    movgen::FrameSource(640, 480, {movgen::Content::shape}));
  ASSERT_EQ(skip, "");
  testsupport::Started stopped({QUELMUX_EXE, "-u", movie, avi});
  std::error_code ec;
  ASSERT_TRUE(stopped.run_until([&] { return fs::file_size(avi, ec) > (std::uint64_t{9} << 27) && !ec; }));
  stopped.signal(SIGINT);
  const testsupport::RunResult r = stopped.finish();
  EXPECT_EQ(r.exit_code, 130) << r.out << r.err;
  const std::size_t at = r.out.find("Interrupted by SIGINT: ");
  ASSERT_NE(at, std::string::npos) << r.out;
  const std::string written = std::to_string(std::atoi(r.out.c_str() + at + 23));
  expect_parts(avi, 2, static_cast<std::size_t>(std::stoul(written)));
  EXPECT_EQ(testsupport::run({QUELMUX_CRVTDEC, "--compare", avi, movie}).out,
            "Frame counts differ: " + avi + " has " + written + " frames, " + movie + " has 1400 (the first " +
                written + " are identical)\n");
}
#endif

}  // namespace

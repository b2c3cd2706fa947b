// quelmux -u on a 1080p movie of 700 frames: an AVI file of 4.35 GB in five
// OpenDML parts, read back by AviReader, GStreamer and mediainfo; and a
// compressed conversion of noise past the first part. The files are removed
// afterwards; the tests need about 10 GB of free space.
#include "avi/avi_reader.h"
#include "avi/avi_writer.h"
#include "mov/movie_writer.h"
#include "mov/synthetic_frames.h"

#include "avi_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr std::uint32_t kFrames = 700;
constexpr std::uint64_t kFrameSize = std::uint64_t{kWidth} * kHeight * 3;
constexpr std::uint64_t kSpaceNeeded = 10'000'000'000;

TEST(LargeConversion, UncompressedPastFourGibibytes) {
  testsupport::TempDir dir;
  std::error_code ec;
  const fs::space_info space = fs::space(dir.path(), ec);
  if (ec || space.available < kSpaceNeeded) {
    GTEST_SKIP() << "needs about 10 GB free in " << dir.path() << ", has " << space.available << " bytes";
  }
  const std::string movie = (dir / "big.mov").string();
  const std::string avi = (dir / "big.avi").string();
  movgen::MovieOptions o{.width = kWidth, .height = kHeight, .frames = kFrames, .chunking = {{1, 10}}};
  const movgen::FrameSource source(kWidth, kHeight, {movgen::Content::gradient_h});
  std::string error;
  ASSERT_TRUE(movgen::write_movie(movie, o, source, error)) << error;

  const auto run = testsupport::run({QUELMUX_EXE, "-u", movie, avi});
  fs::remove(movie);
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_TRUE(run.out.ends_with("Finished writing file " + avi + "\n")) << run.out;
  EXPECT_EQ(fs::file_size(avi), avitest::final_file_length(kFrames, kFrameSize));

  // Our reader: every part, through the OpenDML indexes; the frames at both
  // ends of every part.
  {
    avi::AviReader reader;
    ASSERT_EQ(reader.open(fs::path(avi)).message, "");
    EXPECT_TRUE(reader.super_index_used());
    EXPECT_EQ(reader.parts(), 5u);
    ASSERT_EQ(reader.frames().size(), kFrames);
    Bytes frame(kFrameSize);
    for (const std::uint32_t i : {0u, 171u, 172u, 343u, 344u, 515u, 516u, 687u, 688u, 699u}) {
      ASSERT_EQ(reader.read_frame(i, frame).message, "");
      EXPECT_EQ(frame, testsupport::avi_frame(source, i)) << "frame " << i;
    }
  }

  if (testsupport::need_program("gst-launch-1.0")) {
    // Every buffer goes through; the last three are kept to compare.
    testsupport::TempDir out;
    const auto r = testsupport::run({"gst-launch-1.0", "-q", "filesrc", "location=" + avi, "!", "avidemux", "!",
                                     "multifilesink", "max-files=3", "location=" + (out / "f%05d.bin").string()});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_FALSE(fs::exists(out / "f00700.bin"));
    for (std::uint32_t i = kFrames - 3; i < kFrames; ++i) {
      const fs::path name = out / ("f00" + std::to_string(i) + ".bin");
      EXPECT_EQ(testsupport::read_file(name), testsupport::flip_rows(testsupport::avi_frame(source, i), kWidth * 3))
          << "frame " << i;
    }
  }
  if (testsupport::need_program("mediainfo")) {
    const auto r = testsupport::run({"mediainfo", "--Inform=Video;%FrameCount%", avi});
    EXPECT_EQ(r.out, "700\n");
  }
  fs::remove(avi);
}

// Noise does not compress, so 180 frames of it take the compressed file past
// its first part; every frame must still decode to the movie's.
#ifdef QUELMUX_CRVTDEC
TEST(LargeConversion, CompressedPastThePartLimit) {
  testsupport::TempDir dir;
  std::error_code ec;
  const fs::space_info space = fs::space(dir.path(), ec);
  if (ec || space.available < kSpaceNeeded / 4) GTEST_SKIP() << "needs about 2.5 GB free in " << dir.path();
  const std::string movie = (dir / "noise.mov").string();
  const std::string avi = (dir / "noise.avi").string();
  constexpr std::uint32_t kNoiseFrames = 180;
  movgen::MovieOptions o{.width = kWidth, .height = kHeight, .frames = kNoiseFrames};
  std::string error;
  ASSERT_TRUE(movgen::write_movie(movie, o, movgen::FrameSource(kWidth, kHeight, {movgen::Content::noise, 3}), error))
      << error;

  const auto run = testsupport::run({QUELMUX_EXE, movie, avi});
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_TRUE(run.out.ends_with("Finished writing file " + avi + "\n")) << run.out;
  {
    avi::AviReader reader;
    ASSERT_EQ(reader.open(fs::path(avi)).message, "");
    EXPECT_TRUE(reader.super_index_used());
    EXPECT_EQ(reader.parts(), 2u);
    EXPECT_EQ(reader.frames().size(), kNoiseFrames);
  }
  const auto compared = testsupport::run({QUELMUX_CRVTDEC, "--compare", avi, movie});
  EXPECT_EQ(compared.exit_code, 0) << compared.out << compared.err;
  EXPECT_EQ(compared.out, "180 frames identical\n");
  if (testsupport::need_program("mediainfo")) {
    const auto r = testsupport::run({"mediainfo", "--Inform=Video;%FrameCount%", avi});
    EXPECT_EQ(r.out, "180\n");
  }
  fs::remove(movie);
  fs::remove(avi);
}

// SIGINT once the file has gone past its first part: the run stops after the
// frame in progress and completes both parts.
TEST(LargeConversion, StoppedPastThePartLimit) {
  testsupport::TempDir dir;
  std::error_code ec;
  const fs::space_info space = fs::space(dir.path(), ec);
  if (ec || space.available < kSpaceNeeded / 4) GTEST_SKIP() << "needs about 2.5 GB free in " << dir.path();
  const std::string movie = (dir / "in.mov").string();
  const std::string avi = (dir / "out.avi").string();
  movgen::MovieOptions o{.width = 640, .height = 480, .frames = 1400};  // 1.29 GB
  std::string error;
  ASSERT_TRUE(movgen::write_movie(movie, o, movgen::FrameSource(640, 480, {movgen::Content::shape}), error)) << error;
  testsupport::Started run({QUELMUX_EXE, "-u", movie, avi});
  ASSERT_TRUE(run.run_until([&] { return fs::file_size(avi, ec) > (std::uint64_t{9} << 27) && !ec; }));  // 1.125 GiB
  run.signal(SIGINT);
  const testsupport::RunResult r = run.finish();
  EXPECT_EQ(r.exit_code, 130) << r.out << r.err;
  const std::size_t at = r.out.find("Interrupted by SIGINT: ");
  ASSERT_NE(at, std::string::npos) << r.out;
  const std::string written = std::to_string(std::atoi(r.out.c_str() + at + 23));
  avi::AviReader reader;
  ASSERT_EQ(reader.open(fs::path(avi)).message, "");
  EXPECT_TRUE(reader.super_index_used());
  EXPECT_EQ(reader.parts(), 2u);
  EXPECT_EQ(std::to_string(reader.frames().size()), written);
  const auto compared = testsupport::run({QUELMUX_CRVTDEC, "--compare", avi, movie});
  EXPECT_EQ(compared.out, "Frame counts differ: " + avi + " has " + written + " frames, " + movie +
                              " has 1400 (the first " + written + " are identical)\n");
  if (testsupport::need_program("mediainfo")) {
    EXPECT_EQ(testsupport::run({"mediainfo", "--Inform=Video;%FrameCount%", avi}).out, written + "\n");
  }
}
#endif

}  // namespace

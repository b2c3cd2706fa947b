// A movie past 4 GiB, written frame by frame with one frame a chunk and its
// header last: the 64-bit media data size, 64-bit chunk offsets ("co64") and
// a movie atom far behind the first header window. Read by our reader,
// converted by quelmux and checked by crvtdec --compare and GStreamer. The
// test needs about 5 GB of free space.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "mov/movie_file.h"
#include "mov/movie_writer.h"
#include "mov/synthetic_frames.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(LargeMovie, HeaderLastWithSixtyFourBitOffsetsPastFourGibibytes) {
  testsupport::TempDir dir;
  std::error_code ec;
  const fs::space_info space = fs::space(dir.path(), ec);
  if (ec || space.available < 5'000'000'000) GTEST_SKIP() << "needs about 5 GB free in " << dir.path();
  const auto path = dir / "big.mov";
  movgen::MovieOptions o{.width = 1920, .height = 1080, .frames = 700, .moov_last = true};
  const movgen::FrameSource source(1920, 1080, {movgen::Content::gradient_h});
  movgen::MovieLayout layout;
  std::string error;
  ASSERT_TRUE(movgen::write_movie(path.string(), o, source, error, &layout)) << error;
  ASSERT_EQ(fs::file_size(path), layout.file_size);
  ASSERT_TRUE(layout.mdat_largesize);
  ASSERT_TRUE(layout.co64);
  ASSERT_GT(layout.moov_offset, 1ull << 32);

  std::string lines;
  const MovieFile movie = open_movie_file(path, [&lines](std::string_view line) { (lines += line) += '\n'; });
  ASSERT_TRUE(movie.header.ok()) << movie.header.error;
  EXPECT_TRUE(lines.ends_with("Number of entries = 700\n700 frames indexed\n"));
  const std::vector<std::int64_t>& frame_offsets = movie.header.frame_offsets;
  EXPECT_EQ(frame_offsets, std::vector<std::int64_t>(layout.frame_offsets.begin(), layout.frame_offsets.end()));

  const std::string avi = (dir / "big.avi").string();
  auto r = testsupport::run({QUELMUX_EXE, path.string(), avi});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  r = testsupport::run({CRVTDEC_EXE, "--compare", avi, path.string()});
  EXPECT_EQ(r.out, "700 frames identical\n") << r.err;
  if (testsupport::need_program("gst-launch-1.0")) {
    // GStreamer's demuxer hands out the last frame from past 4 GiB as we read it.
    testsupport::TempDir out;
    r = testsupport::run({"gst-launch-1.0", "-q", "filesrc", "location=" + path.string(), "!", "qtdemux", "!",
                          "multifilesink", "max-files=1", "location=" + (out / "f%05d.bin").string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(testsupport::read_file(out / "f00699.bin"), movgen::stored_frame(source, movgen::DataFormat::raw, 699));
  }
}

}  // namespace

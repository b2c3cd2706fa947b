// quelmux -u on a 1080p movie of 700 frames, one a chunk, its header last:
// 4.35 GB of media data, whose size and chunk offsets take 64 bits, with the
// movie atom far past the first header window. The AVI file goes past 4 GiB
// in five OpenDML parts. Read back by AviReader, GStreamer and mediainfo; the
// test needs about 10 GB of free space.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "avi/avi_reader.h"
#include "mov/movie_writer.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(LargeConversion, HeaderLastMoviePastFourGibibytesIntoFiveParts) {
  constexpr int kWidth = 1920, kHeight = 1080;
  testsupport::TempDir dir, out;
  std::error_code ec;
  if (fs::space(dir.path(), ec).available < 10'000'000'000 || ec) GTEST_SKIP() << "needs about 10 GB free";
  const std::string movie = (dir / "big.mov").string(), avi = (dir / "big.avi").string();
  const movgen::FrameSource source(kWidth, kHeight, {movgen::Content::gradient_h});
  movgen::MovieLayout layout;
  std::string error;
  ASSERT_TRUE(movgen::write_movie(movie, {.width = kWidth, .height = kHeight, .frames = 700, .moov_last = true}, source,
                                  error, &layout))
      << error;
  ASSERT_TRUE(layout.mdat_largesize && layout.co64 && layout.moov_offset > (1ull << 32));
  // Every buffer of GStreamer's demuxer goes through; the last three are kept to compare.
  const bool gst = testsupport::need_program("gst-launch-1.0");
  const auto demux = [&](const std::string& file, const char* demuxer) {
    const auto r = testsupport::run({"gst-launch-1.0", "-q", "filesrc", "location=" + file, "!", demuxer, "!",
                                     "multifilesink", "max-files=3", "location=" + (out / "f%05d.bin").string()});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_FALSE(fs::exists(out / "f00700.bin"));
    return testsupport::read_file(out / "f00699.bin");
  };
  EXPECT_TRUE(!gst || demux(movie, "qtdemux") == movgen::stored_frame(source, movgen::DataFormat::raw, 699));

  const auto run = testsupport::run({QUELMUX_EXE, "-u", movie, avi});
  fs::remove(movie);
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_TRUE(run.out.ends_with("Finished writing file " + avi + "\n")) << run.out;
  avi::AviReader reader;
  ASSERT_EQ(reader.open(fs::path(avi)).message, "");
  EXPECT_TRUE(reader.super_index_used());
  EXPECT_EQ(reader.parts(), 5u);
  ASSERT_EQ(reader.frames().size(), 700u);
  std::vector<std::uint8_t> frame(reader.largest_frame());
  for (const std::uint32_t i : {0u, 171u, 172u, 343u, 344u, 515u, 516u, 687u, 688u, 699u}) {  // both ends of every part
    ASSERT_EQ(reader.read_frame(i, frame).message, "");
    EXPECT_TRUE(frame == testsupport::avi_frame(source, i)) << "frame " << i;
  }
  if (testsupport::need_program("mediainfo")) {
    EXPECT_EQ(testsupport::run({"mediainfo", "--Inform=Video;%FrameCount%", avi}).out, "700\n");
  }
  if (gst) demux(avi, "avidemux");
  for (std::uint32_t i = 697; gst && i < 700; ++i) {
    EXPECT_TRUE(testsupport::read_file(out / ("f00" + std::to_string(i) + ".bin")) ==
                testsupport::flip_rows(testsupport::avi_frame(source, i), kWidth * 3))
        << "frame " << i;
  }
}

}  // namespace

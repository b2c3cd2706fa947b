// A movie past 4 GiB, written frame by frame: the 64-bit media data size,
// chunks below 4 GiB and frames above it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "mov/movie_header.h"
#include "mov/movie_writer.h"
#include "mov/sample_tables.h"
#include "mov/synthetic_frames.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

Bytes read_at(const std::filesystem::path& path, std::uint64_t offset, std::size_t size) {
  std::unique_ptr<std::FILE, Closer> f(std::fopen(path.c_str(), "rb"));
  Bytes b(size);
  if (!f || fseeko(f.get(), static_cast<off_t>(offset), SEEK_SET) != 0 ||
      std::fread(b.data(), 1, size, f.get()) != size)
    b.clear();
  return b;
}

TEST(LargeMovie, FullHdMoviePastFourGibibytes) {
  testsupport::TempDir dir;
  const auto path = dir / "big.mov";
  movgen::MovieOptions o{.width = 1920, .height = 1080, .frames = 700, .chunking = {{1, 10}}};
  const movgen::FrameSource source(1920, 1080, {movgen::Content::gradient_h});
  movgen::MovieLayout layout;
  std::string error;
  ASSERT_TRUE(movgen::write_movie(path.string(), o, source, error, &layout)) << error;
  ASSERT_EQ(std::filesystem::file_size(path), layout.file_size);
  ASSERT_TRUE(layout.mdat_largesize);

  Bytes window = read_at(path, 0, mov_header_window);
  ASSERT_EQ(window.size(), static_cast<std::size_t>(mov_header_window));
  mov_info info;
  testing::internal::CaptureStdout();
  ASSERT_EQ(read_mov_header(window.data(), mov_header_window, info), 1);
  EXPECT_TRUE(testing::internal::GetCapturedStdout().ends_with("700 frames indexed\n"));
  ASSERT_EQ(frame_offsets.size(), 700u);
  for (std::size_t i = 0; i < 700; ++i) ASSERT_EQ(static_cast<std::uint64_t>(frame_offsets[i]), layout.frame_offsets[i]);
  EXPECT_GT(frame_offsets.back(), std::int64_t{1} << 32);
  EXPECT_EQ(read_at(path, static_cast<std::uint64_t>(frame_offsets.back()), source.frame_size()),
            movgen::stored_frame(source, movgen::DataFormat::raw, 699));

  if (testsupport::need_program("gst-launch-1.0")) {
    const auto r = testsupport::run({"gst-launch-1.0", "-q", "filesrc", "location=" + path.string(), "!",
                                     "qtdemux", "!", "fakesink"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
  }
}

}  // namespace

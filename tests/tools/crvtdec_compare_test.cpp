// What --compare and --info report about files that do not match, and about
// a file whose figures are known.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "crvtdec_test_util.h"

namespace {

using namespace crvtdec_test;

class CrvtdecReports : public testing::Test {
 protected:
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  testsupport::TempDir dir_;
};

// The movie differs from what was converted in two pixels of frame 1: the
// one reported is the upper one, though the AVI's bitmap holds the lower one
// first.
TEST_F(CrvtdecReports, FirstDifferingPixelCountedFromTheTop) {
  constexpr int w = 16, h = 8;
  for (const movgen::DataFormat format : {movgen::DataFormat::raw, movgen::DataFormat::wrle}) {
    const bool raw = format == movgen::DataFormat::raw;
    SCOPED_TRACE(raw ? "raw" : "WRLE");
    movgen::MovieOptions o{.width = w, .height = h, .frames = 3, .format = format};
    const movgen::FrameSource src = source(w, h, movgen::Content::noise);
    const movgen::MovieLayout layout = write_movie(path("in.mov"), o, src);
    ASSERT_EQ(quelmux({path("in.mov"), path("a.avi")}).exit_code, 0);

    Bytes movie = testsupport::read_file(path("in.mov"));
    // Byte `channel` (0 red, 1 green, 2 blue) of the pixel at row y from the
    // top, column x, of frame 1, as the movie stores it.
    auto at = [&](int y, int x, int channel) {
      const int row = raw ? y : h - 1 - y;
      const int byte = raw ? channel : 2 - channel;
      return static_cast<std::size_t>(layout.frame_offsets[1]) + static_cast<std::size_t>((row * w + x) * 3 + byte);
    };
    const std::uint8_t red = movie[at(5, 9, 0)], green = movie[at(5, 9, 1)], blue = movie[at(5, 9, 2)];
    movie[at(5, 9, 1)] ^= 0x10;
    movie[at(6, 2, 0)] ^= 0x01;
    testsupport::write_file(path("in.mov"), movie);

    const RunResult r = crvtdec({"--compare", path("a.avi"), path("in.mov")});
    EXPECT_EQ(r.exit_code, 1);
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "Frame 1 differs at row 5, column 9: R G B %u %u %u in %s, %u %u %u in %s\n", red, green, blue,
                  path("a.avi").c_str(), red, green ^ 0x10u, blue, path("in.mov").c_str());
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(CrvtdecReports, FrameCountsAndSizesMustAgree) {
  movgen::MovieOptions o{.width = 12, .height = 6, .frames = 4};
  const movgen::FrameSource src = source(12, 6, movgen::Content::shape);
  write_movie(path("four.mov"), o, src);
  o.frames = 5;
  write_movie(path("five.mov"), o, src);
  o.height = 7;
  write_movie(path("taller.mov"), o, source(12, 7, movgen::Content::shape));
  ASSERT_EQ(quelmux({path("four.mov"), path("four.avi")}).exit_code, 0);
  ASSERT_EQ(quelmux({path("five.mov"), path("five.avi")}).exit_code, 0);

  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{path("four.avi"), path("five.mov")},
       "Frame counts differ: " + path("four.avi") + " has 4 frames, " + path("five.mov") +
           " has 5 (the first 4 are identical)\n"},
      {{path("five.avi"), path("four.mov")},
       "Frame counts differ: " + path("five.avi") + " has 5 frames, " + path("four.mov") +
           " has 4 (the first 4 are identical)\n"},
      {{path("five.avi"), path("taller.mov")},
       "Frame sizes differ: " + path("five.avi") + " is 12 x 6, " + path("taller.mov") + " is 12 x 7\n"},
  };
  for (const auto& [files, message] : cases) {
    const RunResult r = crvtdec({"--compare", files[0], files[1]});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, message);
  }
}

// Every kind of frame once (info reads the type bytes and decodes nothing).
TEST_F(CrvtdecReports, InfoOfAKnownFile) {
  const Bytes full = encode(
      4, 2, 24, {Bytes{1, 50, 3, 4, 99, 6, 7, 8, 9, 10, 11, 200, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24}})[0];
  ASSERT_EQ(full[0], 4);
  const std::vector<Bytes> frames = {
      {}, {5, 9}, {6, 1, 2, 3}, full, {8, 13, 0, 0, 0, 14, 0, 0, 0, 15, 0, 0, 0}, {9, 1, 2, 3, 4}, {7}};
  write_avi(path("x.avi"), {4, 2, true, 30000, 1001}, frames);
  const std::size_t stored = 25 + full.size();
  char figures[128];
  std::snprintf(figures, sizeof figures, "Stored size: %zu bytes, %.1f a frame\nCompression ratio: %.2f\n", stored,
                static_cast<double>(stored) / 7, 7.0 * 24 / static_cast<double>(stored));
  RunResult r = crvtdec({"--info", path("x.avi")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "File: " + path("x.avi") +
                       "\n"
                       "Video: Corvath (\"CRVT\"), 24 bits a pixel\n"
                       "Size: 4 x 2\n"
                       "Frame rate: 29.97 frames a second (30000 / 1001)\n"
                       "Frames: 7\n"
                       "  null:          1\n"
                       "  full 24-bit:   1\n"
                       "  grey:          1\n"
                       "  flat 24-bit:   1\n"
                       "  full 32-bit:   1\n"
                       "  flat 32-bit:   1\n"
                       "  uncompressed:  0\n"
                       "  unknown type:  1\n" +
                       figures);
}

// A one-colour movie in quelmux's two forms, the uncompressed one split into
// parts.
TEST_F(CrvtdecReports, InfoOfConvertedMovies) {
  movgen::MovieOptions o{.width = 16, .height = 16, .frames = 3};
  write_movie(path("in.mov"), o, source(16, 16, movgen::Content::solid));
  ASSERT_EQ(quelmux({path("in.mov"), path("a.avi")}).exit_code, 0);
  RunResult r = crvtdec({"--info", path("a.avi")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Frame rate: 30 frames a second (600 / 20)\nFrames: 3\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  flat 24-bit:   3\n"), std::string::npos) << r.out;
  EXPECT_TRUE(r.out.ends_with("Stored size: 12 bytes, 4.0 a frame\nCompression ratio: 192.00\n")) << r.out;
  Bytes damaged = testsupport::read_file(path("a.avi"));
  put_u32(damaged, 0x8C, 4);  // the stream header's dwLength
  testsupport::write_file(dir_ / "x.avi", damaged);
  r = crvtdec({"--info", path("x.avi")});
  EXPECT_NE(r.out.find("\nFrames: 3 (the stream header says 4)\n"), std::string::npos) << r.out;

  std::vector<Bytes> bitmaps(20, Bytes(768, 1));
  write_avi(path("u.avi"), {16, 16, false, 25, 1, 9216}, bitmaps);
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(path("u.avi")));
  ASSERT_GT(reader.parts(), 1u);
  r = crvtdec({"--info", path("u.avi")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Video: uncompressed (\"DIB \"), 24 bits a pixel\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  uncompressed:  20\n"), std::string::npos) << r.out;
  EXPECT_TRUE(r.out.ends_with("Stored size: 15360 bytes, 768.0 a frame\nCompression ratio: 1.00\nRIFF parts: " +
                              std::to_string(reader.parts()) + "\n"))
      << r.out;
}

}  // namespace

// Every way crvtdec can fail: exit status 1, a message on standard error that
// names the file and says why, nothing on standard output; never a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "codec/frame_format.h"
#include "crvtdec_test_util.h"

namespace {

using namespace crvtdec_test;

class CrvtdecFailures : public testing::Test {
 protected:
  static constexpr int kWidth = 16;
  static constexpr int kHeight = 8;

  // A movie of three frames and its Corvath and uncompressed conversions.
  void SetUp() override {
    movgen::MovieOptions o{.width = kWidth, .height = kHeight, .frames = 3};
    layout_ = write_movie(path("in.mov"), o, source(kWidth, kHeight, movgen::Content::noise));
    ASSERT_EQ(quelmux({path("in.mov"), path("a.avi")}).exit_code, 0);
    ASSERT_EQ(quelmux({"-u", path("in.mov"), path("u.avi")}).exit_code, 0);
  }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  std::string file(const Bytes& bytes, const std::string& name = "x.avi") const {
    testsupport::write_file(dir_ / name, bytes);
    return path(name);
  }

  // a.avi's frames with frame 1 replaced.
  std::string with_frame_1(const Bytes& frame) const {
    avi::AviReader reader;
    EXPECT_TRUE(reader.open(path("a.avi")));
    std::vector<Bytes> frames;
    for (std::size_t i = 0; i < reader.frames().size(); ++i) {
      frames.emplace_back(reader.frames()[i].size);
      EXPECT_TRUE(reader.read_frame(i, frames.back()));
    }
    frames[1] = frame;
    write_avi(dir_ / "x.avi", {kWidth, kHeight, true, 600, 20}, frames);
    return path("x.avi");
  }

  Bytes frame_1() const {
    avi::AviReader reader;
    EXPECT_TRUE(reader.open(path("a.avi")));
    Bytes frame(reader.frames()[1].size);
    EXPECT_TRUE(reader.read_frame(1, frame));
    return frame;
  }

  static void expect_failure(const RunResult& r, const std::string& message) {
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find(message), std::string::npos) << "expected: " << message << "\nstderr: " << r.err;
    EXPECT_EQ(r.out, "");
  }

  testsupport::TempDir dir_;
  movgen::MovieLayout layout_;
};

TEST_F(CrvtdecFailures, CommandLine) {
  expect_failure(crvtdec({}), "crvtdec: missing file name; see crvtdec --help");
  expect_failure(crvtdec({path("a.avi")}), "missing file name");
  expect_failure(crvtdec({"--info", path("a.avi"), path("b.avi")}), "too many file names");
  expect_failure(crvtdec({path("a.avi"), path("b.avi"), path("c.avi")}), "too many arguments at \"" + path("c.avi"));
  expect_failure(crvtdec({"--bogus", path("a.avi"), path("b.avi")}), "unknown option \"--bogus\"");
  expect_failure(crvtdec({"--png", path("a.avi"), path("b.avi")}), "--png goes with --frames");
  expect_failure(crvtdec({"--frames", "--compare", path("a.avi"), path("in.mov")}), "only one mode at a time");
  expect_failure(crvtdec({"-j0", path("a.avi"), path("b.avi")}), "bad thread count \"0\": -j takes a number");
  expect_failure(crvtdec({path("a.avi"), path("b.avi"), "-j"}), "bad thread count \"\"");

  RunResult r = crvtdec({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.out.starts_with("Usage: crvtdec [-j N] <in.avi> <out.avi>\n")) << r.out;
  EXPECT_NE(r.out.find("counted from the top"), std::string::npos);
  r = crvtdec({"--version"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "crvtdec " QUELMUX_VERSION "\n");
  // After "--" a name that begins with "-" is a file name.
  expect_failure(crvtdec({"--info", "--", "-x.avi"}), "cannot open -x.avi: No such file or directory");
}

TEST_F(CrvtdecFailures, InputsThatAreNotCorvathOrBitmapAvis) {
  const std::string missing = path("missing.avi");
  expect_failure(crvtdec({missing, path("b.avi")}), "cannot open " + missing + ": No such file or directory");
  expect_failure(crvtdec({"--frames", missing, path("f%d.ppm")}), "cannot open " + missing);
  expect_failure(crvtdec({"--compare", missing, path("in.mov")}), "cannot open " + missing);
  expect_failure(crvtdec({"--info", missing}), "cannot open " + missing);
  expect_failure(crvtdec({"--info", path("in.mov")}), path("in.mov") + ": not an AVI file");
  expect_failure(crvtdec({"--info", file(Bytes{})}), path("x.avi") + ": not an AVI file");

  const Bytes avi = testsupport::read_file(path("a.avi"));
  const Bytes bitmaps = testsupport::read_file(path("u.avi"));
  Bytes b = avi;
  std::copy_n("MJPG", 4, b.begin() + kBiCompression);
  expect_failure(crvtdec({"--info", file(b)}), path("x.avi") + ": unsupported video format \"MJPG\"");
  b = avi;
  put_u16(b, kBiBitCount, 16);
  expect_failure(crvtdec({"--info", file(b)}), "Corvath stream of 16 bits a pixel");
  b = bitmaps;
  put_u16(b, kBiBitCount, 32);
  expect_failure(crvtdec({"--info", file(b)}), "uncompressed stream of 32 bits a pixel");
  // Frame buffers are sized from the geometry: it must be one a file can have.
  b = avi;
  put_u32(b, 0xB0, 50000);
  put_u32(b, kBiHeight, 50000);
  expect_failure(crvtdec({file(b), path("b.avi")}), path("x.avi") + ": frames of 50000 x 50000 pixels are too large");
  b = bitmaps;
  put_u32(b, kBiHeight, 9);
  expect_failure(crvtdec({"--compare", file(b), path("in.mov")}),
                 path("x.avi") + ": frame 0 holds 384 bytes, a 24-bit bitmap of 16 x 9 pixels takes 432");
  // No encoder makes a frame of 1 x 1 pixels that long.
  write_avi(dir_ / "x.avi", {1, 1, true, 30, 1}, {Bytes(5000, FRAME_FULL24)});
  expect_failure(crvtdec({"--info", path("x.avi")}),
                 path("x.avi") + ": frame 0 holds 5000 bytes, more than any Corvath frame of 1 x 1 pixels");
}

// Damaged frames through the real program: the frame's number and the
// decoder's reason.
TEST_F(CrvtdecFailures, FramesThatDoNotDecode) {
  const Bytes good = frame_1();
  ASSERT_EQ(good[0], FRAME_FULL24);
  const std::string fails = path("x.avi") + ": frame 1 does not decode: ";
  for (const int type : {0, 1, 3, 7, 10, 128, 255}) {
    Bytes f = good;
    f[0] = static_cast<std::uint8_t>(type);
    expect_failure(crvtdec({"--compare", with_frame_1(f), path("in.mov")}), fails + "unknown frame type");
  }
  expect_failure(crvtdec({"--compare", with_frame_1({FRAME_FULL32, 1, 2, 3, 4}), path("in.mov")}),
                 fails + "32-bit frame in a 24-bit stream");
  expect_failure(crvtdec({"--compare", with_frame_1({FRAME_FLAT32, 1, 2, 3, 4}), path("in.mov")}),
                 fails + "32-bit frame in a 24-bit stream");
  expect_failure(crvtdec({"--compare", with_frame_1(Bytes(good.begin(), good.begin() + 8)), path("in.mov")}),
                 fails + "frame shorter than its header");
  expect_failure(crvtdec({"--compare", with_frame_1({FRAME_GREY}), path("in.mov")}),
                 fails + "frame shorter than its header");
  expect_failure(crvtdec({"--compare", with_frame_1({FRAME_FLAT24, 1, 2}), path("in.mov")}), fails + "frame shorter");

  const std::string offsets = fails + "plane offsets outside the frame or out of order";
  Bytes f = good;
  put_u32(f, 1, static_cast<std::uint32_t>(good.size()) + 1);  // plane 1 past the frame
  expect_failure(crvtdec({"--compare", with_frame_1(f), path("in.mov")}), offsets);
  f = good;
  put_u32(f, 5, get_u32(good, 1) - 1);  // plane 2 before plane 1
  expect_failure(crvtdec({"--frames", with_frame_1(f), path("f%d.ppm")}), offsets);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "f0.ppm"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "f1.ppm"));

  // Writing an AVI stops at the frame and leaves a valid file of the frames
  // before it.
  f = good;
  f[kFull24Header] = 9;  // no such run-length level
  expect_failure(crvtdec({with_frame_1(f), path("c.avi")}), fails + "damaged plane");
  avi::AviReader reader;
  ASSERT_EQ(reader.open(path("c.avi")).message, "");
  EXPECT_EQ(reader.frames().size(), 1u);
}

// The file cut short at every chunk boundary of a small conversion, and every
// size field of its chunks one too large or too small. Files cut before
// their frames fail as truncated, the others are salvaged: the whole frames
// are compared, and the exit status is 1 all the same. With a size off by
// one the frames are either found as they are or the file is refused, but a
// comparison never passes on wrong frames.
TEST_F(CrvtdecFailures, TruncatedFilesAndSizesOffByOne) {
  const Bytes avi = testsupport::read_file(path("a.avi"));
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(path("a.avi")));
  std::vector<std::size_t> chunk_starts = {0, 12, 0x0C, 0x58, 0x1200, 0x2000, kFirstChunk};
  for (const avi::Frame& f : reader.frames()) chunk_starts.push_back(static_cast<std::size_t>(f.offset) - 8);
  const std::size_t idx1 =
      static_cast<std::size_t>(reader.frames().back().offset + (reader.frames().back().size + 3) / 4 * 4);
  ASSERT_EQ(
      std::string(avi.begin() + static_cast<std::ptrdiff_t>(idx1), avi.begin() + static_cast<std::ptrdiff_t>(idx1) + 4),
      "idx1");
  const std::size_t junk = idx1 + 8 + 16 * 3;
  chunk_starts.insert(chunk_starts.end(), {idx1, junk, avi.size() - 1});
  for (const std::size_t cut : chunk_starts) {
    SCOPED_TRACE(cut);
    const RunResult r = crvtdec(
        {"--compare", file(Bytes(avi.begin(), avi.begin() + static_cast<std::ptrdiff_t>(cut))), path("in.mov")});
    std::size_t whole = 0;
    while (whole < 3 && reader.frames()[whole].offset + reader.frames()[whole].size <= cut) ++whole;
    if (cut < kFirstChunk) {
      expect_failure(r, path("x.avi") + ": ");
      EXPECT_TRUE(r.err.find("truncated") != std::string::npos || r.err.find("not an AVI file") != std::string::npos)
          << r.err;
      continue;
    }
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find(path("x.avi") + " was not completed"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(": " + std::to_string(whole) + " whole frames found"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, whole == 3
                         ? "3 frames identical\n"
                         : "Frame counts differ: " + path("x.avi") + " has " + std::to_string(whole) + " frames, " +
                               path("in.mov") + " has 3 (the first " + std::to_string(whole) + " are identical)\n");
  }

  // An index cut inside its last entry is not used: the frames are found by
  // scanning, the last one included.
  Bytes b = avi;
  put_u32(b, idx1 + 4, 16 * 3 - 1);
  RunResult r = crvtdec({"--compare", file(b), path("in.mov")});
  EXPECT_EQ(r.out, "3 frames identical\n") << r.err;

  std::vector<std::size_t> size_fields = {4, 0x10, 0x1C, 0x5C, 0x68, 0xA8, 0xD8, 0x1204, 0x2004, idx1 + 4, junk + 4};
  for (const avi::Frame& f : reader.frames()) size_fields.push_back(static_cast<std::size_t>(f.offset) - 4);
  for (const std::size_t field : size_fields) {
    for (const int delta : {-1, 1}) {
      SCOPED_TRACE(testing::Message() << "size at " << field << (delta > 0 ? " + 1" : " - 1"));
      b = avi;
      put_u32(b, field, get_u32(b, field) + static_cast<std::uint32_t>(delta));
      r = crvtdec({"--compare", file(b), path("in.mov")});
      if (r.exit_code == 0) {
        EXPECT_EQ(r.out, "3 frames identical\n");
      } else {
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_TRUE(r.out.starts_with("Frame ") || r.err.starts_with("crvtdec: " + path("x.avi") + ": ") ||
                    (r.out == "3 frames identical\n" && r.err.find(" was not completed") != std::string::npos))
            << r.out << r.err;
      }
    }
  }
}

TEST_F(CrvtdecFailures, OutputsThatCannotBeWritten) {
  const std::string nowhere = path("no/such/dir");
  expect_failure(crvtdec({path("a.avi"), nowhere + "/b.avi"}), "Unable to open output file " + nowhere + "/b.avi");
  expect_failure(crvtdec({"--frames", path("a.avi"), nowhere + "/f%d.ppm"}),
                 "cannot write " + nowhere + "/f0.ppm: No such file or directory");
  expect_failure(crvtdec({"--frames", "--png", path("a.avi"), nowhere + "/f%d.png"}),
                 "cannot write " + nowhere + "/f0.png: No such file or directory");
  expect_failure(crvtdec({path("a.avi"), path("a.avi")}),
                 path("a.avi") + ": the output file would overwrite the input");
  std::filesystem::copy_file(path("a.avi"), path("a1.avi"));
  expect_failure(crvtdec({"--frames", path("a1.avi"), path("a%d.avi")}),
                 path("a1.avi") + ": the image of frame 1 would overwrite the input");
  EXPECT_EQ(testsupport::read_file(path("a1.avi")), testsupport::read_file(path("a.avi")));
  expect_failure(crvtdec({"--frames", path("a.avi"), path("f%s.ppm")}),
                 "bad file name pattern \"" + path("f%s.ppm") + "\"");
  expect_failure(crvtdec({"--frames", path("a.avi"), path("f.ppm")}), "no conversion for the frame number");

  // A disk that is full: writes fail when the data reach it.
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  expect_failure(crvtdec({path("a.avi"), "/dev/full"}), "/dev/full");
  std::filesystem::create_symlink("/dev/full", dir_ / "f1.ppm");
  std::filesystem::create_symlink("/dev/full", dir_ / "f1.png");
  expect_failure(crvtdec({"--frames", path("a.avi"), path("f%d.ppm")}),
                 "cannot write " + path("f1.ppm") + ": No space left on device");
  expect_failure(crvtdec({"--frames", "--png", path("a.avi"), path("f%d.png")}), "cannot write " + path("f1.png"));
}

TEST_F(CrvtdecFailures, MoviesThatCannotBeCompared) {
  const std::string missing = path("missing.mov");
  expect_failure(crvtdec({"--compare", path("a.avi"), missing}),
                 "cannot open " + missing + ": No such file or directory");
  // The movie reader's own reason comes first, on standard error too.
  RunResult r = crvtdec({"--compare", path("a.avi"), path("u.avi")});
  expect_failure(r, "Unable to find tag \"mvhd\"\ncrvtdec: " + path("u.avi") + ": not a movie that quelmux converts\n");

  Bytes movie = testsupport::read_file(path("in.mov"));
  const std::string format = "raw ";
  auto stsd = std::search(movie.begin(), movie.end(), format.begin(), format.end());
  ASSERT_NE(stsd, movie.end());
  std::copy_n("jpeg", 4, stsd);
  r = crvtdec({"--compare", path("a.avi"), file(movie, "x.mov")});
  expect_failure(r, "Unsupported data format");
  EXPECT_NE(r.err.find(path("x.mov") + ": not a movie that quelmux converts"), std::string::npos);

  // Cut inside the last frame, the header in front intact.
  movie = testsupport::read_file(path("in.mov"));
  movie.resize(static_cast<std::size_t>(layout_.frame_offsets[2]) + 10);
  expect_failure(crvtdec({"--compare", path("a.avi"), file(movie, "short.mov")}),
                 path("short.mov") + ": frame 2 could not be read: the file ends inside it");
}

}  // namespace

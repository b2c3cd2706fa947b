// The quelmux program, run as a whole on real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "mov/atom_builder.h"
#include "mov/movie_header.h"
#include "mov/movie_writer.h"
#include "mov/sample_tables.h"
#include "mov/synthetic_frames.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testsupport::run;
using testsupport::RunResult;

const std::string usage =
    "Usage: quelmux [-u] <.mov file> <output filename>\n"
    "Use -u if you want to produce an uncomressed avi instead of a\nCorvath compressed avi.\n";

RunResult quelmux(const std::vector<std::string>& args) {
  std::vector<std::string> argv{QUELMUX_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv);
}

std::string header_lines(int width, int height, const char* format, const char* rate, int runs,
                         int chunks, int frames) {
  char text[1024];
  std::snprintf(text, sizeof text,
                "Movie header found\nTrack header found\nWidth = %d\nHeight = %d\nMedia header found\n"
                "Sample description found, number of entries = 1\nData format = \"%s\"\n"
                "Sample to time table found\nFrame rate = %s\nSample to chunk table found\n"
                "Number of entries = %d\nSample offset table found\nNumber of entries = %d\n"
                "%d frames indexed\n",
                width, height, format, rate, runs, chunks, frames);
  return text;
}

// Where the first occurrence of a four-character tag lies in `bytes`.
std::size_t offset_of(const Bytes& bytes, const char* tag) {
  const auto at = std::search(bytes.begin(), bytes.end(), tag, tag + std::strlen(tag));
  EXPECT_NE(at, bytes.end()) << tag;
  return static_cast<std::size_t>(at - bytes.begin());
}

class Quelmux : public testing::Test {
 protected:
  // Writes a sample movie into the scratch directory and returns its path.
  std::string movie(const movgen::MovieOptions& o, const std::string& name = "in.mov",
                    movgen::Content content = movgen::Content::shape) {
    const std::string path = (dir_ / name).string();
    std::string error;
    EXPECT_TRUE(movgen::write_movie(path, o, movgen::FrameSource(o.width, o.height, {content}), error))
        << error;
    return path;
  }
  std::string file(const Bytes& bytes, const std::string& name = "in.mov") {
    testsupport::write_file(dir_ / name, bytes);
    return (dir_ / name).string();
  }
  std::string out() const { return (dir_ / "out.avi").string(); }

  testsupport::TempDir dir_;
};

TEST_F(Quelmux, PrintsTheHeaderOfSampleMovies) {
  movgen::MovieOptions o{.frames = 30, .chunking = {{1, 2}, {3, 1}}};
  const std::string in = movie(o);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{in, out()}, {"-U", in, out()}, {in, out(), "ignored"}}) {
    const RunResult r = quelmux(args);
    EXPECT_EQ(r.exit_code, 0) << args[0];
    EXPECT_TRUE(r.out.starts_with(header_lines(320, 240, "raw ", "30.000000", 2, 28, 30))) << r.out;
    EXPECT_EQ(r.err, "");
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "ignored"));

  // Bitmap movies, any frame size.
  o = {};
  o.width = 321;
  o.height = 1;
  o.frames = 7;
  o.format = movgen::DataFormat::wrle;
  o.chunking = {{1, 3}};
  o.moov_last = true;
  o.time_scale = 25;
  o.sample_duration = 1;
  const RunResult r = quelmux({movie(o, "bitmap.mov"), out()});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.out.starts_with(header_lines(321, 1, "WRLE", "25.000000", 2, 3, 7))) << r.out;
}

TEST_F(Quelmux, CommandLineFailuresExitWithOne) {
  const RunResult none = quelmux({});
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_EQ(none.out, usage);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"a.mov"}, {"-u", "a.mov"}, {"a", "b", "c", "d"}}) {
    const RunResult r = quelmux(args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, usage);
    EXPECT_EQ(r.err, "");
  }
  for (const char* option : {"-", "-x"}) {
    const RunResult r = quelmux({option, "a.mov", "b.avi"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, std::string("Unknown option: \"") + option + "\"\n");
  }
  for (const char* option : {"--help", "--version"}) {
    const RunResult r = quelmux({option});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.out.starts_with(option[2] == 'h' ? "Usage: quelmux" : "quelmux ")) << r.out;
  }
}

// On a terminal the progress line goes before the closing line comes.
TEST_F(Quelmux, ProgressLineIsClearedOnATerminal) {
  if (!testsupport::need_program("script")) GTEST_SKIP();
  const std::string in = movie({.width = 8, .height = 8, .frames = 3});
  const RunResult r = run({"script", "-qec", std::string(QUELMUX_EXE) + " " + in + " " + out(), "/dev/null"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("\rFrame 3 of 3 (100%)\r\033[KFinished writing file"), std::string::npos) << r.out;
}

TEST_F(Quelmux, InputThatCannotBeReadExitsWithOne) {
  RunResult r = quelmux({(dir_ / "missing.mov").string(), out()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "Unable to open the input file.\n");
  r = quelmux({dir_.path().string(), out()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "Unable to read the input file.\n");
  // An empty file is searched like any other: the window is all zeros.
  r = quelmux({file({}), out()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "Unable to find tag \"mvhd\"\n");
}

TEST_F(Quelmux, HeaderFailuresExitWithOne) {
  movgen::MovieOptions o{.width = 4, .height = 4, .frames = 2};
  Bytes bytes = testsupport::read_file(movie(o));
  Bytes co64 = bytes;
  std::memcpy(&co64[offset_of(bytes, "stco")], "co64", 4);
  RunResult r = quelmux({file(co64), out()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.out.ends_with("Number of entries = 1\nUnable to find tag \"stco\"\n")) << r.out;

  Bytes jpeg = bytes;
  std::memcpy(&jpeg[offset_of(bytes, "raw ")], "jpeg", 4);
  r = quelmux({file(jpeg), out()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.out.ends_with("Data format = \"jpeg\"\nUnsupported data format, please select \"BMP\" or "
                              "\"none\" as the video compression when saving a .mov file\n"));

  Bytes long_table = bytes;
  const std::size_t stco = offset_of(bytes, "stco");
  long_table[stco + 8] = 0x10;  // 268435458 entries
  r = quelmux({file(long_table), out()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.out.ends_with("Number of entries = 268435458\nSample table runs past the header window\n"));
}

TEST_F(Quelmux, HeaderBehindTheWindowIsNotFound) {
  // 3 MB frames, the movie atom behind four of them: past 9,240,576 bytes.
  movgen::MovieOptions o{.width = 1024, .height = 1024, .frames = 4, .moov_last = true};
  const RunResult r = quelmux({movie(o, "in.mov", movgen::Content::solid), out()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "Unable to find tag \"mvhd\"\n");
  // Remuxed with the movie atom in front, the same frames are read.
  o.moov_last = false;
  EXPECT_EQ(quelmux({movie(o, "front.mov", movgen::Content::solid), out()}).exit_code, 0);
}

#if defined(__SANITIZE_ADDRESS__)
#define QUELMUX_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUELMUX_UNDER_ASAN 1
#endif
#endif

TEST_F(Quelmux, RunningOutOfMemoryIsReported) {
#ifdef QUELMUX_UNDER_ASAN
  GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit";
#else
  if (!testsupport::need_program("prlimit")) GTEST_SKIP();
  // 2^31 - 1 empty frames in one chunk want 16 GiB of offsets; 1 GiB of
  // address space cannot hold them.
  movgen::MovieOptions o{.width = 0, .frames = 1};
  Bytes bytes = testsupport::read_file(movie(o));
  const std::size_t stsc = offset_of(bytes, "stsc");
  const std::uint8_t most[4] = {0x7F, 0xFF, 0xFF, 0xFF};
  std::copy(most, most + 4, bytes.begin() + stsc + 16);
  const RunResult r = run({"prlimit", "--as=1073741824", QUELMUX_EXE, file(bytes), out()});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_TRUE(r.out.ends_with("Number of entries = 1\nNot enough memory to index 2147483647 frames\n"))
      << r.out;
#endif
}

// qtmux can store uncompressed RGB as a "raw " track.
TEST_F(Quelmux, ReadsMoviesWrittenByGstreamer) {
  if (!testsupport::need_program("gst-launch-1.0")) GTEST_SKIP();
  for (const char* faststart : {"false", "true"}) {
    SCOPED_TRACE(faststart);
    const std::string in = (dir_ / "qt.mov").string();
    RunResult r = run({"gst-launch-1.0", "-q", "videotestsrc", "num-buffers=10", "pattern=ball", "!",
                       "video/x-raw,format=RGB,width=320,height=240,framerate=30/1", "!", "qtmux",
                       std::string("faststart=") + faststart, "!", "filesink", "location=" + in});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    r = quelmux({in, out()});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.out.starts_with(header_lines(320, 240, "raw ", "30.000000", 1, 1, 10))) << r.out;

    // The offsets found are where qtdemux takes the frames from.
    Bytes bytes = testsupport::read_file(in);
    const Bytes whole = bytes;
    bytes.resize(mov_header_window);
    mov_info info;
    testing::internal::CaptureStdout();
    ASSERT_EQ(read_mov_header(bytes.data(), mov_header_window, info), 1);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(total_frames, 10);
    const std::vector<Bytes> frames = testsupport::demux(in, "qtdemux");
    ASSERT_EQ(frames.size(), 10u);
    for (int i = 0; i < 10; ++i) {
      const Bytes& demuxed = frames[static_cast<std::size_t>(i)];
      ASSERT_EQ(demuxed.size(), 230400u);
      const auto at = whole.begin() + frame_offsets[static_cast<std::size_t>(i)];
      EXPECT_TRUE(std::equal(demuxed.begin(), demuxed.end(), at)) << i;
    }
  }
}

}  // namespace

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

std::string header_lines(int width, int height, const char* format, const char* rate, int runs, int chunks,
                         int frames) {
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
    EXPECT_TRUE(movgen::write_movie(path, o, movgen::FrameSource(o.width, o.height, {content}), error)) << error;
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
  // As the only argument, --help and --version are no failure.
  RunResult r = quelmux({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.out.starts_with("Usage: quelmux [-j N] [-u] <.mov file>") &&
              r.out.ends_with("the signal number after such a stop.\n"))
      << r.out;
  r = quelmux({"--version"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.out.starts_with("quelmux 0.") && r.out.ends_with("\n")) << r.out;
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
  Bytes no_offsets = bytes;
  std::memcpy(&no_offsets[offset_of(bytes, "stco")], "xxxx", 4);
  RunResult r = quelmux({file(no_offsets), out()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.out.ends_with("Number of entries = 1\nUnable to find tag \"stco\"\n")) << r.out;

  Bytes jpeg = bytes;
  std::memcpy(&jpeg[offset_of(bytes, "raw ")], "jpeg", 4);
  r = quelmux({file(jpeg), out()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(
      r.out.ends_with("Data format = \"jpeg\"\nUnsupported data format, please select \"BMP\" or "
                      "\"none\" as the video compression when saving a .mov file\n"));

  Bytes long_table = bytes;
  const std::size_t stco = offset_of(bytes, "stco");
  long_table[stco + 8] = 0x10;  // 268435458 entries
  r = quelmux({file(long_table), out()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.out.ends_with("Number of entries = 268435458\nSample table runs past the header window\n"));
}

// 3 MB frames put the movie atom of a header-last movie past the first
// window. Such movies, with 32- or 64-bit chunk offsets, convert into the
// very files of their twin with the header in front, printed lines included.
TEST_F(Quelmux, HeaderAfterTheMediaDataConvertsLikeItsTwin) {
  movgen::MovieOptions o{.width = 1024, .height = 1024, .frames = 4, .chunking = {{1, 3}}};
  const std::string front = movie(o, "front.mov");
  o.moov_last = true;
  const std::string last = movie(o, "last.mov");
  o.co64 = true;
  const std::string last64 = movie(o, "last64.mov");
  const std::string twin = (dir_ / "twin.avi").string();
  for (const bool u : {true, false}) {
    std::vector<std::string> args{front, twin};
    if (u) args.insert(args.begin(), "-u");
    const RunResult expected = quelmux(args);
    ASSERT_EQ(expected.exit_code, 0) << expected.out;
    const Bytes expected_file = testsupport::read_file(twin);
    for (const std::string& in : {last, last64}) {
      args[args.size() - 2] = in;
      const RunResult r = quelmux(args);
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(r.out, expected.out) << in;
      EXPECT_TRUE(testsupport::read_file(twin) == expected_file) << in;
    }
  }
}

// Top-level atoms that lie leave the header unfound, as before; a movie
// atom without a movie header gets a hint to remux.
TEST_F(Quelmux, HeaderThatCannotBeFoundOrUsed) {
  movgen::MovieOptions o{.width = 1024, .height = 1024, .frames = 4, .moov_last = true};
  const Bytes bytes = testsupport::read_file(movie(o, "in.mov", movgen::Content::solid));
  const std::size_t mdat = 20;
  ASSERT_EQ(std::string(bytes.begin() + mdat + 4, bytes.begin() + mdat + 8), "mdat");
  const auto with_size = [&](std::uint32_t size, std::uint64_t large) {
    Bytes b = bytes;
    for (int k = 0; k < 4; ++k) b[mdat + k] = static_cast<std::uint8_t>(size >> (24 - 8 * k));
    for (int k = 0; k < 8; ++k) b[mdat + 8 + k] = static_cast<std::uint8_t>(large >> (56 - 8 * k));
    return b;
  };
  for (const Bytes& lying : {with_size(0x7FFFFFF0, 0), with_size(0, 0), with_size(4, 0),
                             with_size(1, 0xFFFFFFFFFFFFFFF0ull), with_size(1, 8)}) {
    const RunResult r = quelmux({file(lying), out()});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "Unable to find tag \"mvhd\"\n");
  }
  Bytes no_header = bytes;
  std::memcpy(&no_header[offset_of(bytes, "mvhd")], "xxxx", 4);
  const RunResult r = quelmux({file(no_header), out()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "Unable to find tag \"mvhd\"\nThe movie atom at byte " +
                       std::to_string(offset_of(bytes, "moov") - 4) +
                       " holds no movie header that can be read; remux the movie first: gst-launch-1.0 filesrc "
                       "location=in.mov ! qtdemux ! qtmux faststart=true ! filesink location=out.mov\n");
}

// A few hundred bytes of header claim far more than the file holds: the run
// costs what the file holds, stops where it stops, and says so.
TEST_F(Quelmux, HostileHeadersCostOnlyWhatTheFileHolds) {
  const movgen::MovieOptions small{.width = 2, .height = 2, .frames = 1};
  const Bytes bytes = testsupport::read_file(movie(small));
  // Fields counted from the tag, which lies 4 bytes into its atom.
  const auto patched = [&](const char* tag, std::size_t from_tag, std::uint32_t value, Bytes b) {
    const std::size_t at = offset_of(bytes, tag) + from_tag;
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(value >> (24 - 8 * k));
    return b;
  };
  const auto sized = [&](std::uint32_t w, std::uint32_t h) {
    return patched("tkhd", 80, w << 16, patched("tkhd", 84, h << 16, bytes));
  };
  const Bytes zero_width = patched("stsc", 16, 100'000'000, sized(0, 2));
  // A header-last movie cut inside its chunk-offset table.
  const std::string cut_path = movie({.width = 2, .height = 2, .frames = 300, .moov_last = true}, "cut.mov");
  Bytes cut = testsupport::read_file(cut_path);
  cut.resize(offset_of(cut, "stco") + 12 + 600);

  const std::string finished = "Finished writing file " + out() + "\n";
  const struct {
    Bytes movie;
    bool uncompressed;
    std::string ending;
  } cases[] = {
      {patched("stsc", 16, 1u << 28, bytes), true, "Frame 1 could not be read\n" + finished},
      {patched("stsc", 16, 0x7FFFFFFF, bytes), false, "Frame 1 could not be read\n" + finished},
      {sized(26754, 26754), false, "Frame 0 could not be read\n" + finished},
      {sized(18800, 18800), true, "Frame 0 could not be read\n" + finished},
      {zero_width, false, "Frames of 0 x 2 pixels hold no picture\n"},
      {cut, true, "Number of entries = 300\nSample table runs past the header window\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{file(c.movie), out()};
    if (c.uncompressed) args.insert(args.begin(), "-u");
    const RunResult r = quelmux(args);
    SCOPED_TRACE(c.ending);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(r.out.ends_with(c.ending)) << r.out;
    EXPECT_LT(r.max_rss_kb, 64 * 1024);
  }
}

}  // namespace

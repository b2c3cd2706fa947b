// Nothing lost: runs stopped by a signal, killed outright or cut short by a
// full disk leave a file of every frame written, read back by crvtdec and by
// GStreamer; a movie is never written over; a header's claims cost nothing.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "crvtdec_test_util.h"

namespace {

using namespace crvtdec_test;
namespace fs = std::filesystem;

constexpr int kWidth = 160;
constexpr int kHeight = 120;
const movgen::MovieOptions kMovie{.width = kWidth, .height = kHeight, .frames = 200};

class NothingLost : public testing::Test {
 protected:
  void SetUp() override { write_movie(dir_ / "in.mov", kMovie, src_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::uintmax_t size_of(const std::string& file) const {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    return ec ? 0 : size;
  }
  // The number printed behind `text` in `output`, -1 when there is none.
  static int number_after(const std::string& output, const std::string& text) {
    const std::size_t at = output.find(text);
    return at == std::string::npos ? -1 : std::atoi(output.c_str() + at + text.size());
  }

  // `file` holds exactly the first `frames` frames of the movie: for our
  // reader, for crvtdec --compare and, frame for frame, for GStreamer (whose
  // bitmaps come top row first).
  void expect_first_frames(const std::string& file, int frames, bool bitmaps) const {
    avi::AviReader reader;
    ASSERT_EQ(reader.open(file).message, "");
    EXPECT_EQ(reader.unfinished(), "");
    const RunResult r = crvtdec({"--compare", file, path("in.mov")});
    EXPECT_EQ(r.out, "Frame counts differ: " + file + " has " + std::to_string(frames) + " frames, " + path("in.mov") +
                         " has 200 (the first " + std::to_string(frames) + " are identical)\n");
    // GStreamer refuses a file of no frames.
    if (frames == 0 || !testsupport::need_program("gst-launch-1.0")) return;
    const std::vector<Bytes> demuxed = testsupport::demux(file, "avidemux");
    ASSERT_EQ(demuxed.size(), static_cast<std::size_t>(frames));
    for (std::uint32_t i = 0; bitmaps && i < demuxed.size(); ++i) {
      EXPECT_TRUE(demuxed[i] == testsupport::flip_rows(bgr_frame(src_, i), 3 * kWidth)) << "GStreamer's frame " << i;
    }
  }

  testsupport::TempDir dir_;
  const movgen::FrameSource src_ = source(kWidth, kHeight, movgen::Content::shape);
};

// A signal as the first frames go out, in mid-run, and again and again while
// the file is completed: the run stops after the frame in progress, says so,
// completes the file and ends with 128 + the first signal's number.
TEST_F(NothingLost, SignalsStopAfterTheFrameInProgress) {
  ASSERT_EQ(quelmux({path("in.mov"), path("coded.avi")}).exit_code, 0);
  const std::string out = path("out.avi");
  const struct {
    std::vector<std::string> argv;
    int signal;
    std::uintmax_t after;  // output bytes before the signal; 0: at "Writing"
    bool again;            // further signals until the end
  } cases[] = {
      {{QUELMUX_EXE, path("in.mov"), out}, SIGTERM, 0, false},
      {{QUELMUX_EXE, "-j3", "-u", path("in.mov"), out}, SIGINT, 200000, false},
      {{QUELMUX_EXE, path("in.mov"), out}, SIGHUP, 20000, true},  // SIGHUP comes first of those pending
      {{CRVTDEC_EXE, "-j3", path("coded.avi"), out}, SIGINT, 200000, false},
      {{CRVTDEC_EXE, path("coded.avi"), out}, SIGHUP, 200000, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.argv[1] << " " << c.signal << (c.again ? " again" : ""));
    fs::remove(out);
    testsupport::Started run(c.argv);
    ASSERT_TRUE(run.run_until(
        [&] { return c.after == 0 ? run.out().find("Writing") != std::string::npos : size_of(out) > c.after; }));
    run.signal(c.signal);
    if (c.again)
      run.run_until([&] {
        run.signal(SIGTERM);
        run.signal(SIGINT);
        return false;
      });
    const RunResult r = run.finish();
    EXPECT_EQ(r.exit_code, 128 + c.signal) << r.out << r.err;
    const char* name = c.signal == SIGTERM ? "SIGTERM" : c.signal == SIGINT ? "SIGINT" : "SIGHUP";
    const int written = c.argv[0] == QUELMUX_EXE
                            ? number_after(r.out, std::string("Interrupted by ") + name + ": ")
                            : number_after(r.err, std::string("crvtdec: interrupted by ") + name + ": ");
    ASSERT_GE(written, 0) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(" of 200 frames written"), std::string::npos);
    EXPECT_LT(written, 200);
    expect_first_frames(out, written, c.argv[1] != path("in.mov"));
  }
}

// A run killed outright leaves its header as first written and maybe a cut
// chunk: crvtdec says so, reads every whole frame in every mode, and writes
// them as a complete file, with exit status 1 for the incomplete input.
TEST_F(NothingLost, KilledRunIsSalvaged) {
  testsupport::Started run({QUELMUX_EXE, path("in.mov"), path("killed.avi")});
  ASSERT_TRUE(run.run_until([&] { return size_of(path("killed.avi")) > 50000; }));
  run.signal(SIGKILL);
  ASSERT_EQ(run.finish().exit_code, -SIGKILL);
  avi::AviReader reader;
  ASSERT_EQ(reader.open(path("killed.avi")).message, "");
  const int whole = static_cast<int>(reader.frames().size());
  ASSERT_GT(whole, 0);
  RunResult r = crvtdec({"--info", path("killed.avi")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "crvtdec: " + path("killed.avi") +
                       " was not completed (its RIFF size is 0): " + std::to_string(whole) + " whole frames found\n");
  EXPECT_NE(r.out.find("Frames: " + std::to_string(whole) + " (the stream header says 0)\n"), std::string::npos);
  EXPECT_EQ(crvtdec({"--frames", path("killed.avi"), path("f%d.ppm")}).exit_code, 1);
  EXPECT_TRUE(fs::exists(dir_ / ("f" + std::to_string(whole - 1) + ".ppm")));
  EXPECT_FALSE(fs::exists(dir_ / ("f" + std::to_string(whole) + ".ppm")));
  r = crvtdec({path("killed.avi"), path("saved.avi")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, std::to_string(whole) + " frames written to " + path("saved.avi") + "\n");
  expect_first_frames(path("saved.avi"), whole, true);
}

// A full disk stops the run at a frame; the file keeps every frame before it,
// indexes included. A partial image of --frames is removed.
TEST_F(NothingLost, FullDisk) {
  testsupport::SmallFileSystem small(1 << 20);
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string full = small.path("full.avi");
  RunResult r = quelmux({"-j3", "-u", path("in.mov"), full});
  EXPECT_EQ(r.exit_code, 1);
  const int kept =
      number_after(r.out, "Unable to write to output file " + full + "\nOutput file " + full + " holds the ");
  EXPECT_GT(kept, 10) << r.out;  // 1 MiB of 57.6 KB frames
  expect_first_frames(full, kept, true);
  r = crvtdec({"-j3", "--frames", full, small.path("f%d.ppm")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("cannot write " + small.path("f0.ppm") + ": No space left on device"), std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(small.path("f0.ppm")));
}

// quelmux *.mov in a folder of movies names a movie as the output: it is left
// as it was, by both programs, while other files are overwritten as before.
TEST_F(NothingLost, MoviesAreNeverWrittenOver) {
  for (const char* name : {"b.mov", "b0.mov"}) fs::copy_file(dir_ / "in.mov", dir_ / name);
  const Bytes movie = testsupport::read_file(dir_ / "b.mov");
  RunResult r = quelmux({path("in.mov"), path("b.mov"), path("c.mov")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(
      r.out.ends_with("Output file " + path("b.mov") + " is a QuickTime movie: quelmux does not write over it\n"));
  EXPECT_EQ(quelmux({"-u", path("in.mov"), path("b.mov")}).exit_code, 1);
  write_avi(dir_ / "a.avi", {kWidth, kHeight, false, 600, 20}, {bgr_frame(src_, 0)});
  r = crvtdec({path("a.avi"), path("b.mov")});
  EXPECT_EQ(r.err, "crvtdec: " + path("b.mov") + " is a QuickTime movie: crvtdec does not write over it\n");
  r = crvtdec({"--frames", path("a.avi"), path("b%d.mov")});
  EXPECT_EQ(r.err, "crvtdec: " + path("b0.mov") + ": the image of frame 0 would overwrite a QuickTime movie\n");
  for (const char* name : {"b.mov", "b0.mov"}) EXPECT_EQ(testsupport::read_file(dir_ / name), movie) << name;
  for (const std::string& other : {std::string("/dev/null"), path("a.avi") + ".avi", path("a.avi") + ".avi"}) {
    EXPECT_EQ(crvtdec({path("a.avi"), other}).exit_code, 0) << other;
  }
}

// A file of a few kilobytes claiming 26754 x 26754 pixels and holding no
// frame costs what the file holds in every mode of crvtdec.
TEST_F(NothingLost, ClaimsCostNothingWithoutFrames) {
  for (const bool compressed : {true, false}) {
    write_avi(dir_ / "huge.avi", {26754, 26754, compressed, 30, 1}, {});
    for (const std::vector<std::string>& args : {std::vector<std::string>{path("huge.avi"), path("o.avi")},
                                                 {"--frames", path("huge.avi"), path("f%d.ppm")},
                                                 {"--info", path("huge.avi")},
                                                 {"--compare", path("huge.avi"), path("in.mov")}}) {
      const RunResult r = crvtdec(args);
      EXPECT_EQ(r.exit_code, args[0] == "--compare" ? 1 : 0) << r.err;
      EXPECT_LT(r.max_rss_kb, 64 << 10) << args[0];
    }
  }
}

}  // namespace
